#include "driver/strokes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/control_codes.h"
#include "tests/support/sim_fixture.h"

namespace {

// The last devices of each kind, so a range check that is one off shows.
constexpr int keyboard = 10;
constexpr int mouse = 20;

class Strokes : public sim_fixture {
protected:
    void SetUp() override {
        sim_fixture::SetUp();
        ASSERT_TRUE(open({keyboard, mouse}));
    }
};

const sim_request& last_request() {
    return sim_requests()[sim_request_count() - 1];
}

}  // namespace

TEST_F(Strokes, BadArgumentsReachNoDriver) {
    device_set zero_slots = {};
    const int requests_before = sim_request_count();
    struct row {
        const char* name;
        device_set* target;
        int device;
    };
    // clang-format off
    const row rows[] = {
        {"null set", nullptr, keyboard}, {"device 0", set, 0},           {"device 21", set, 21},
        {"negative device", set, -1},    {"slot never opened", &zero_slots, keyboard},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        stroke any = {};
        char16_t id[hardware_id_units];
        EXPECT_EQ(0, send_stroke(r.target, r.device, &any));
        EXPECT_EQ(0, receive_stroke(r.target, r.device, &any));
        EXPECT_EQ(0, get_hardware_id(r.target, r.device, id));
        EXPECT_EQ(requests_before, sim_request_count());
    }
}

TEST_F(Strokes, AStrokeTravelsAsALittleEndianRecordOfItsKind) {
    struct row {
        int device;
        key_stroke key;
        mouse_stroke mouse;
        std::vector<uint8_t> wire;
    };
    // clang-format off
    const row rows[] = {
        {keyboard, {0x1E, 0x01, 7}, {}, {0, 0, 0x1E, 0, 0x01, 0, 0, 0, 0x07, 0, 0, 0}},
        {keyboard, {0xE05B, 0x0302, 0x89ABCDEF}, {}, {0, 0, 0x5B, 0xE0, 0x02, 0x03, 0, 0, 0xEF, 0xCD, 0xAB, 0x89}},
        {mouse, {}, {0x0001, 0x0002, -120, -5, 0x01020304, 0xA1B2C3D4},
         {0, 0, 0x02, 0, 0x01, 0, 0x88, 0xFF, 0, 0, 0, 0,  // raw buttons zero
          0xFB, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1}},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.wire.size());
        stroke out;
        std::memset(&out, 0xFF, sizeof out);  // bytes the other kind would use
        if (r.device == keyboard) out.key = r.key;
        if (r.device == mouse) out.mouse = r.mouse;
        EXPECT_EQ(1, send_stroke(set, r.device, &out));
        EXPECT_EQ(ctl_write, last_request().code);
        EXPECT_EQ(r.device, last_request().device);
        EXPECT_EQ(r.wire, std::vector<uint8_t>(last_request().input, last_request().input + last_request().input_size));
    }
}

TEST_F(Strokes, ARecordIsReadFieldByField) {
    sim_type(keyboard, key_stroke{0x53, 0x03, 0xFEDCBA98});
    ASSERT_EQ(keyboard, wait_for_device(set));
    stroke in = {};
    EXPECT_EQ(1, receive_stroke(set, keyboard, &in));
    EXPECT_EQ(0x53, in.key.make_code);
    EXPECT_EQ(0x03, in.key.key_state);
    EXPECT_EQ(0xFEDCBA98u, in.key.extra_info);
    EXPECT_EQ(key_record_size, last_request().output_size);

    // Unit id and raw buttons are not the program's; they must not leak in.
    const uint8_t record[mouse_record_size] = {0x34, 0x12, 0x02, 0x00, 0x01, 0x00, 0x78, 0x00, 0xAA, 0xBB, 0xCC, 0xDD,
                                               0xFB, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x07, 0x00, 0x00, 0x80};
    ASSERT_TRUE(sim_queue_mouse_record(mouse, record));
    ASSERT_EQ(mouse, wait_for_device(set));
    EXPECT_EQ(1, receive_stroke(set, mouse, &in));
    EXPECT_EQ(0x0001, in.mouse.button_state);
    EXPECT_EQ(0x0002, in.mouse.move_flags);
    EXPECT_EQ(120, in.mouse.wheel_delta);
    EXPECT_EQ(-5, in.mouse.pos_x);
    EXPECT_EQ(0x10000, in.mouse.pos_y);
    EXPECT_EQ(0x80000007u, in.mouse.extra_info);
    EXPECT_EQ(0u, last_request().input_size);
    EXPECT_EQ(mouse_record_size, last_request().output_size);
}

// A send that fails took nothing; a read that fails says so, apart from one
// that found nothing to read.
TEST_F(Strokes, FailuresLeaveTheStrokeAlone) {
    struct row {
        const char* name;
        sim_step step;
        bool sent;  // which operation the failure hits
        bool request_issued;
        int result;
    };
    // clang-format off
    const row rows[] = {
        {"no heap for a send", sim_step_alloc, true, false, 0},
        {"refused write", sim_step_write, true, true, 0},
        {"no heap for a receive", sim_step_alloc, false, false, receive_no_memory},
        {"refused read", sim_step_read, false, true, receive_failed},
        {"nothing queued", sim_step_count, false, true, 0},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.step != sim_step_count) sim_fail_at(r.step, sim_step_calls(r.step) + 1);
        int before = sim_request_count();
        stroke s = {};
        s.key = key_stroke{0x1E, 0, 0};
        EXPECT_EQ(r.result, r.sent ? send_stroke(set, keyboard, &s) : receive_stroke(set, keyboard, &s));
        EXPECT_EQ(r.request_issued ? 1 : 0, sim_request_count() - before);
        EXPECT_EQ(0x1E, s.key.make_code);
        EXPECT_EQ(1, sim_live_blocks());
    }
}

// A driver that answers one byte short of a record has handed over no stroke,
// though the record it cut is gone: a fault of the driver, said as such.
TEST_F(Strokes, AShortAnswerIsNoStroke) {
    ASSERT_TRUE(sim_answer_short_reads(keyboard));
    sim_type(keyboard, key_stroke{0x30, 0, 9});
    ASSERT_EQ(keyboard, wait_for_device(set));
    stroke s = {};
    s.key = key_stroke{0x1E, 0, 0};
    EXPECT_EQ(receive_partial, receive_stroke(set, keyboard, &s));
    EXPECT_EQ(key_record_size - 1, last_request().returned);
    EXPECT_EQ(0x1E, s.key.make_code);
    EXPECT_EQ(0u, s.key.extra_info);
}

TEST_F(Strokes, TheHardwareIdComesBackAsUtf16EndingWithTheAnswer) {
    struct row {
        const char* name;
        std::string id;
        int bytes;
        std::u16string text;
        bool unterminated = false;
    };
    // clang-format off
    const row rows[] = {
        {"usual", "HID\\VID_046D&PID_C31C", 44, u"HID\\VID_046D&PID_C31C"},
        {"empty", "", 2, u""},
        {"non-ASCII", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 10, u"\u00E9\u20AC\U0001F600"},
        {"ill-formed bytes", "a\xFF" "b\xE0\x80\x80", 14, u"a\uFFFDb\uFFFD\uFFFD\uFFFD"},
        {"499 units fill the buffer", std::string(499, 'y'), 1000, std::u16string(499, u'y')},
        {"longer than the buffer", std::string(600, 'z'), 1000, std::u16string(500, u'z')},
        {"answered without terminator", "kbd", 6, u"kbd", true},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim_declare_device(keyboard, r.id.c_str());
        if (r.unterminated) sim_omit_id_terminator(keyboard);
        char16_t id[hardware_id_units];
        std::memset(id, 0x55, sizeof id);
        EXPECT_EQ(r.bytes, get_hardware_id(set, keyboard, id));
        EXPECT_EQ(ctl_get_hardware_id, last_request().code);
        EXPECT_EQ(hardware_id_bytes, last_request().output_size);
        EXPECT_EQ(r.text, std::u16string(id, r.text.size()));
        if (r.bytes < 1000) {
            // The text ends with the answer; nothing after that is touched.
            EXPECT_EQ(0, id[r.text.size()]);
            EXPECT_EQ(0, id[r.bytes / 2]);
            EXPECT_EQ(0x5555, id[r.bytes / 2 + 1]);
        }
    }
}

TEST_F(Strokes, AMissingOrRefusedHardwareIdGivesZero) {
    char16_t id[hardware_id_units];
    sim_declare_device(keyboard, nullptr);
    EXPECT_EQ(0, get_hardware_id(set, keyboard, id));
    sim_declare_device(keyboard, "back");
    sim_fail_at(sim_step_hardware_id, sim_step_calls(sim_step_hardware_id) + 1);
    EXPECT_EQ(0, get_hardware_id(set, keyboard, id));
    EXPECT_EQ(10, get_hardware_id(set, keyboard, id));
}
