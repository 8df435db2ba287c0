#include "app/capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/control_codes.h"
#include "keymap/text.h"
#include "sim/sim.h"

namespace {

TEST(Capture, OnlyNamedKeyboardsAndThoseWithoutAnIdAreCaptured) {
    // clang-format off
    const struct {
        bool usable;
        int file;
        uint16_t filter;
    } rows[] = {
        {true, 0, capture_every_stroke}, {true, 9, capture_every_stroke}, {true, -1, capture_nothing},
        {false, -1, capture_every_stroke},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.usable) + " " + std::to_string(r.file));
        EXPECT_EQ(r.filter, wanted_filter(r.usable, r.file));
    }
}

config pad;
config numpad;

layouts two_files() {
    reset_config(&pad);
    reset_config(&numpad);
    const std::u16string pad_id = u"HID\\PAD", numpad_id = u"HID\\NUMPAD";
    pad_id.copy(pad.configured_hardware_id, pad_id.size());
    numpad_id.copy(numpad.configured_hardware_id, numpad_id.size());
    return layouts{2, {&pad, &numpad}};
}

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

void note_left(void* context, int device) {
    static_cast<std::vector<int>*>(context)->push_back(device);
}

int id_requests(int since) {
    int count = 0;
    for (int i = since; i < sim_request_count(); ++i) count += sim_requests()[i].code == ctl_get_hardware_id;
    return count;
}

// Every keyboard that opened is asked for its id; a filter request goes out
// only where the rule wants another filter than the one set. Keyboards come
// and go (their ids change) between the checks; a slot whose named keyboard
// is no longer there is told as gone.
TEST(Capture, EachCheckAsksEveryKeyboardAndChangesOnlyWhatMustChange) {
    sim_reset();
    const std::string long_id(499, 'x');
    sim_declare_device(1, "HID\\MAIN");
    sim_declare_device(2, "HID\\PAD");
    sim_declare_device(3, nullptr);
    sim_declare_device(4, long_id.c_str());
    sim_declare_device(5, "HID\\NUMPAD");
    sim_declare_device(12, "HID\\MOUSE");
    device_set* set = open_device_set();
    ASSERT_NE(nullptr, set);
    const layouts in_use = two_files();
    capture_state capture;
    reset_capture(&capture);
    // clang-format off
    const struct {
        const char* what;
        std::vector<std::pair<int, const char*>> ids;  // changed before the check
        std::string requests;
        uint16_t filters[6];  // keyboards 1-6
        std::vector<int> gone;
    } rows[] = {
        {"at the start", {}, "2 65535;3 65535;4 65535;5 65535;", {0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0}, {}},
        {"nothing changed", {}, "", {0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0}, {}},
        {"the pad moves to where the main keyboard was, which moves to where no id was",
         {{1, "HID\\PAD"}, {2, nullptr}, {3, "HID\\MAIN"}}, "1 65535;3 0;", {0xFFFF, 0xFFFF, 0, 0xFFFF, 0xFFFF, 0},
         {2}},
        {"the numpad leaves; an unknown keyboard takes the long id's place; the pad swaps with the numpad",
         {{5, nullptr}, {4, "HID\\OTHER"}, {1, "HID\\NUMPAD"}, {2, "HID\\PAD"}}, "4 0;",
         {0xFFFF, 0xFFFF, 0, 0, 0xFFFF, 0}, {1, 5}},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        for (const auto& id : r.ids) sim_declare_device(id.first, id.second);
        int mark = sim_request_count();
        std::vector<int> left;
        check_every_keyboard(set, in_use, &capture, left_op{note_left, &left});
        EXPECT_EQ(r.gone, left);
        EXPECT_EQ(r.requests, filter_requests(mark));
        EXPECT_EQ(5, id_requests(mark)) << "every keyboard that opened, none that did not";
        for (int device = 1; device <= 6; ++device) {
            EXPECT_EQ(r.filters[device - 1], sim_filter(device)) << device;
            EXPECT_EQ(r.filters[device - 1], capture.filter[device - 1]) << device;
        }
    }
    EXPECT_EQ(0, sim_filter(12)) << "mice are never captured";
    close_device_set(set);
    sim_reset();
}

// A keyboard let go is not let go again; one not captured is left alone, as
// are numbers that name no keyboard.
TEST(Capture, ReleasingAKeyboardClearsItsFilterOnce) {
    sim_reset();
    sim_declare_device(1, "HID\\MAIN");
    device_set* set = open_device_set();
    ASSERT_NE(nullptr, set);
    capture_state capture;
    reset_capture(&capture);
    capture.filter[0] = capture_every_stroke;
    ASSERT_TRUE(set_device_filter(set, 1, capture_every_stroke));
    int mark = sim_request_count();
    for (int device : {1, 1, 2, 0, 11, 21}) release_keyboard(set, &capture, device);
    EXPECT_EQ("1 0;", filter_requests(mark));
    EXPECT_EQ(capture_nothing, capture.filter[0]);
    close_device_set(set);
    sim_reset();
}

TEST(Capture, AnIdIsNamedOnlyWhenEqualWholeAndInCase) {
    const layouts in_use = two_files();
    // clang-format off
    const struct {
        const char16_t* id;
        int file;
    } rows[] = {
        {u"HID\\PAD", 0}, {u"HID\\NUMPAD", 1}, {u"hid\\pad", -1}, {u"HID\\PA", -1}, {u"HID\\PAD ", -1}, {u"", -1},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(utf8_text(r.id));
        EXPECT_EQ(r.file, layout_for_id(in_use, r.id));
    }
}

}  // namespace
