#include "app/capture.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/control_codes.h"
#include "engine/actions.h"
#include "sim/sim.h"

namespace {

// "DEVICE FILTER" for every set-filter request since the mark.
std::string filter_requests(int since) {
    std::string text;
    for (int i = since; i < sim_request_count(); ++i) {
        const sim_request& r = sim_requests()[i];
        if (r.code != ctl_set_filter) continue;
        text += std::to_string(r.device) + " " + std::to_string(r.input[0] | (r.input[1] << 8)) + ";";
    }
    return text;
}

// A filter is asked for only where it changes, never for a number that names
// no keyboard; a refused request is made again next time.
TEST(Capture, AFilterRequestGoesOutOnlyWhereTheFilterChanges) {
    sim_reset();
    sim_declare_device(1, "HID\\MAIN");
    sim_declare_device(2, "HID\\PAD");
    device_set* set = open_device_set();
    ASSERT_NE(nullptr, set);
    capture_filters capture;
    reset_capture(&capture);
    int mark = sim_request_count();
    for (int device : {1, 1, 2, 0, 11, 21}) apply_filter(set, &capture, device, capture_every_stroke);
    EXPECT_EQ("1 65535;2 65535;", filter_requests(mark));
    mark = sim_request_count();
    for (int device : {1, 1, 2}) apply_filter(set, &capture, device, capture_nothing);
    EXPECT_EQ("1 0;2 0;", filter_requests(mark));
    EXPECT_EQ(capture_nothing, sim_filter(1));
    EXPECT_EQ(capture_nothing, capture.filter[1]);
    close_device_set(set);
    sim_reset();
}

}  // namespace
