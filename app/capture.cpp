#include "app/capture.h"

#include "app/run.h"
#include "driver/strokes.h"

bool names_keyboard(const config& layout, const char16_t* id) {
    const char16_t* named = layout.configured_hardware_id;
    for (int i = 0; i < hardware_id_units; ++i) {
        if (named[i] != id[i]) return false;
        if (named[i] == 0) return true;
    }
    return false;
}

int layout_for_id(const layouts& in_use, const char16_t* id) {
    for (int i = 0; i < in_use.count; ++i) {
        if (names_keyboard(*in_use.files[i], id)) return i;
    }
    return -1;
}

uint16_t wanted_filter(bool usable_id, int file) {
    return !usable_id || file >= 0 ? capture_every_stroke : capture_nothing;
}

void reset_capture(capture_state* capture) {
    for (uint16_t& filter : capture->filter) filter = capture_nothing;
    for (int& file : capture->file) file = -1;
}

void note_keyboard(capture_state* capture, int device, int file, left_op on_left) {
    if (device < 1 || device > keyboard_count) return;
    int& known = capture->file[device - 1];
    if (known >= 0 && known != file && on_left.left != nullptr) on_left.left(on_left.context, device);
    known = file;
}

namespace {

void set_filter(device_set* set, capture_state* capture, int device, uint16_t filter) {
    if (capture->filter[device - 1] == filter) return;
    // A refused request leaves the filter as it was; the next check tries again.
    if (set_device_filter(set, device, filter)) capture->filter[device - 1] = filter;
}

}  // namespace

int check_keyboard(device_set* set, const layouts& in_use, capture_state* capture, int device, left_op on_left) {
    bool usable = fetch_hardware_id(set, device);
    int file = usable ? layout_for_id(in_use, hardware_id_buffer) : -1;
    note_keyboard(capture, device, file, on_left);
    set_filter(set, capture, device, wanted_filter(usable, file));
    return file;
}

void check_every_keyboard(device_set* set, const layouts& in_use, capture_state* capture, left_op on_left) {
    for (int device = 1; device <= keyboard_count; ++device) {
        if (device_opened(set, device)) check_keyboard(set, in_use, capture, device, on_left);
    }
}

void release_keyboard(device_set* set, capture_state* capture, int device) {
    if (device < 1 || device > keyboard_count) return;
    set_filter(set, capture, device, capture_nothing);
}
