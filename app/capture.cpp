#include "app/capture.h"

void reset_capture(capture_filters* capture) {
    for (uint16_t& filter : capture->filter) filter = 0;
}

void apply_filter(device_set* set, capture_filters* capture, int device, uint16_t filter) {
    if (device < 1 || device > keyboard_count || capture->filter[device - 1] == filter) return;
    if (set_device_filter(set, device, filter)) capture->filter[device - 1] = filter;
}
