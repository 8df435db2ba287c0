#include "driver/strokes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/control_codes.h"
#include "driver/device_set.h"
#include "driver/sim.h"

namespace {

class Strokes : public ::testing::Test {
protected:
    void SetUp() override {
        sim_reset();
        sim_declare_device(3, "keyboard three");
        sim_declare_device(12, "mouse twelve");
        set = open_device_set();
        ASSERT_NE(nullptr, set);
        set_keyboard_filter(set, 0xFFFF);
        requests_before = sim_request_count();
    }
    void TearDown() override {
        close_device_set(set);
        EXPECT_EQ(0, sim_open_handles());
        EXPECT_EQ(0, sim_live_blocks());
    }
    const sim_request& last_request() { return sim_requests()[sim_request_count() - 1]; }
    int new_requests() { return sim_request_count() - requests_before; }

    device_set* set = nullptr;
    int requests_before = 0;
};

std::vector<uint8_t> bytes_of(const sim_request& request) {
    return std::vector<uint8_t>(request.input, request.input + request.input_size);
}

}  // namespace

TEST_F(Strokes, BadArgumentsReachNoDriver) {
    device_set zero_slots = {};
    struct row {
        const char* name;
        device_set* target;
        int device;
    };
    const row rows[] = {
        {"null set", nullptr, 3},
        {"device 0", set, 0},
        {"device 21", set, 21},
        {"negative device", set, -1},
        {"slot never opened", &zero_slots, 3},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        stroke any = {};
        EXPECT_EQ(0, send_stroke(r.target, r.device, &any));
        EXPECT_EQ(0, receive_stroke(r.target, r.device, &any));
        EXPECT_EQ(0, get_hardware_id(r.target, r.device));
        EXPECT_EQ(0, new_requests());
    }
}

TEST_F(Strokes, AKeyStrokeTravelsAsTwelveLittleEndianBytes) {
    struct row {
        key_stroke key;
        std::vector<uint8_t> wire;
    };
    const row rows[] = {
        {{0x1E, 0x01, 7}, {0x00, 0x00, 0x1E, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}},
        {{0xE05B, 0x0302, 0x89ABCDEF}, {0x00, 0x00, 0x5B, 0xE0, 0x02, 0x03, 0x00, 0x00, 0xEF, 0xCD, 0xAB, 0x89}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.key.make_code);
        stroke out;
        std::memset(&out, 0xFF, sizeof out);
        out.key = r.key;
        EXPECT_EQ(1, send_stroke(set, 3, &out));
        EXPECT_EQ(ctl_write, last_request().code);
        EXPECT_EQ(3, last_request().device);
        EXPECT_EQ(r.wire, bytes_of(last_request()));
    }
}

TEST_F(Strokes, AMouseStrokeTravelsWithRawButtonsZero) {
    stroke out;
    std::memset(&out, 0xFF, sizeof out);
    out.mouse = mouse_stroke{0x0001, 0x0002, -120, -5, 0x01020304, 0xA1B2C3D4};
    EXPECT_EQ(1, send_stroke(set, 12, &out));
    const std::vector<uint8_t> wire = {0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x88, 0xFF, 0x00, 0x00, 0x00, 0x00,
                                       0xFB, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(wire, bytes_of(last_request()));
}

TEST_F(Strokes, AMouseRecordIsReadFieldByField) {
    const uint8_t record[mouse_record_size] = {0x34, 0x12, 0x02, 0x00, 0x01, 0x00, 0x78, 0x00, 0xAA, 0xBB, 0xCC, 0xDD,
                                               0xFB, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x07, 0x00, 0x00, 0x80};
    ASSERT_TRUE(sim_queue_mouse_record(12, record));
    ASSERT_EQ(12, wait_for_device(set));
    stroke in = {};
    EXPECT_EQ(1, receive_stroke(set, 12, &in));
    EXPECT_EQ(0x0001, in.mouse.button_state);
    EXPECT_EQ(0x0002, in.mouse.move_flags);
    EXPECT_EQ(120, in.mouse.wheel_delta);
    EXPECT_EQ(-5, in.mouse.pos_x);
    EXPECT_EQ(0x10000, in.mouse.pos_y);
    EXPECT_EQ(0x80000007u, in.mouse.extra_info);
    EXPECT_EQ(0u, last_request().input_size);
    EXPECT_EQ(mouse_record_size, last_request().output_size);
}

TEST_F(Strokes, AKeyIsReadBackAsTyped) {
    sim_type(3, key_stroke{0x53, 0x03, 0xFEDCBA98});
    ASSERT_EQ(3, wait_for_device(set));
    stroke in = {};
    EXPECT_EQ(1, receive_stroke(set, 3, &in));
    EXPECT_EQ(0x53, in.key.make_code);
    EXPECT_EQ(0x03, in.key.key_state);
    EXPECT_EQ(0xFEDCBA98u, in.key.extra_info);
    EXPECT_EQ(key_record_size, last_request().output_size);
}

TEST_F(Strokes, FailuresCountZeroAndLeaveTheStrokeAlone) {
    struct row {
        const char* name;
        sim_step step;
        bool sent;  // which operation the failure hits
        bool request_issued;
    };
    const row rows[] = {
        {"no heap for a send", sim_step_alloc, true, false},
        {"refused write", sim_step_write, true, true},
        {"no heap for a receive", sim_step_alloc, false, false},
        {"refused read", sim_step_read, false, true},
        {"nothing queued", sim_step_count, false, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.step != sim_step_count) sim_fail_at(r.step, sim_step_calls(r.step) + 1);
        int before = sim_request_count();
        stroke s = {};
        s.key = key_stroke{0x1E, 0, 0};
        EXPECT_EQ(0, r.sent ? send_stroke(set, 3, &s) : receive_stroke(set, 3, &s));
        EXPECT_EQ(r.request_issued ? 1 : 0, sim_request_count() - before);
        EXPECT_EQ(0x1E, s.key.make_code);
        EXPECT_EQ(1, sim_live_blocks());
    }
}

TEST_F(Strokes, TheHardwareIdComesBackAsUtf16WithItsTerminator) {
    struct row {
        const char* name;
        std::string id;
        int bytes;
        std::u16string text;
    };
    const row rows[] = {
        {"usual", "HID\\VID_046D&PID_C31C", 44, u"HID\\VID_046D&PID_C31C"},
        {"empty", "", 2, u""},
        {"non-ASCII", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 10, u"\u00E9\u20AC\U0001F600"},
        {"ill-formed byte", "a\xFF" "b", 8, u"a\uFFFDb"},
        {"498 units", std::string(498, 'x'), 998, std::u16string(498, u'x')},
        {"499 units fill the buffer", std::string(499, 'y'), 1000, std::u16string(499, u'y')},
        {"longer than the buffer", std::string(600, 'z'), 1000, std::u16string(500, u'z')},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim_declare_device(3, r.id.c_str());
        std::memset(hardware_id_buffer, 0x55, sizeof hardware_id_buffer);
        EXPECT_EQ(r.bytes, get_hardware_id(set, 3));
        EXPECT_EQ(ctl_get_hardware_id, last_request().code);
        EXPECT_EQ(hardware_id_bytes, last_request().output_size);
        EXPECT_EQ(r.text, std::u16string(hardware_id_buffer, r.text.size()));
        if (r.bytes < 1000) {
            EXPECT_EQ(0, hardware_id_buffer[r.text.size()]);
            EXPECT_EQ(0x5555, hardware_id_buffer[r.bytes / 2]);
        }
    }
}

TEST_F(Strokes, TheHardwareIdBytesAreLittleEndian) {
    sim_declare_device(3, "\xE2\x82\xAC" "A");
    ASSERT_EQ(6, get_hardware_id(set, 3));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(hardware_id_buffer);
    const uint8_t expected[6] = {0xAC, 0x20, 0x41, 0x00, 0x00, 0x00};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(expected[i], bytes[i]) << "byte " << i;
}

TEST_F(Strokes, AMissingOrRefusedHardwareIdGivesZero) {
    sim_declare_device(3, nullptr);
    EXPECT_EQ(0, get_hardware_id(set, 3));
    sim_declare_device(3, "back");
    sim_fail_at(sim_step_hardware_id, sim_step_calls(sim_step_hardware_id) + 1);
    EXPECT_EQ(0, get_hardware_id(set, 3));
    EXPECT_EQ(10, get_hardware_id(set, 3));
}
