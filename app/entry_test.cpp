#include "app/entry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/control_codes.h"
#include "driver/sim.h"
#include "keymap/config.h"
#include "keymap/key_table.h"
#include "keymap/text.h"

namespace {

const char banner[] =
    "padmap v1.0 - one keyboard, its own layout - (c) 2026 the padmap authors\n"
    "built on the keyboard filter driver - thanks to its author\n";

void record_delivered(void* context, int device, const key_stroke* key) {
    char line[64];
    std::snprintf(line, sizeof line, "%d %04x %04x %08x", device, key->make_code, key->key_state,
                  static_cast<unsigned>(key->extra_info));
    static_cast<std::vector<std::string>*>(context)->push_back(line);
}

struct run_result {
    int status;
    std::string out;
    std::vector<std::string> delivered;
};

std::string write_config(const std::string& text) {
    char dir[] = "/tmp/padmap-entry-XXXXXX";
    if (mkdtemp(dir) == nullptr) return "";
    std::string path = std::string(dir) + "/pad.cfg";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return path;
}

// Runs the program as the entry does, with the simulated driver set up by the
// caller; config empty means identify mode.
run_result run(const std::string& config_path, std::vector<std::string>* delivered_to) {
    std::vector<char16_t> path(config_path.size() + 1);
    utf8_to_utf16(config_path.c_str(), path.data(), path.size());
    const char16_t* argv[] = {u"padmap", path.data()};
    sim_set_sink(record_delivered, delivered_to);
    testing::internal::CaptureStdout();
    int status = padmap_main(config_path.empty() ? 1 : 2, argv);
    run_result result = {status, testing::internal::GetCapturedStdout(), *delivered_to};
    return result;
}

int requests_with_code(uint32_t code) {
    int count = 0;
    for (int i = 0; i < sim_request_count(); ++i) count += sim_requests()[i].code == code;
    return count;
}

key_stroke press(uint16_t make) {
    return key_stroke{make, 0, 0};
}

class EntryTest : public testing::Test {
protected:
    void SetUp() override {
        sim_reset();
        reset_key_table();
        reset_config();
    }
    void TearDown() override { sim_reset(); }
    std::vector<std::string> delivered;
};

TEST_F(EntryTest, IdentifyPrintsTheIdOfTheFirstKeyboardTypedOnAndSwallowsTheStroke) {
    struct row {
        std::string id;
        std::string expected;
    } rows[] = {
        {"HID\\VID_1A2C&PID_0E24", "hardware id is HID\\VID_1A2C&PID_0E24\n"},
        {"kbd-\xc3\xa9\xe2\x82\xac", "hardware id is kbd-\xc3\xa9\xe2\x82\xac\n"},
        {std::string(498, 'x'), "hardware id is " + std::string(498, 'x') + "\n"},
        {std::string(499, 'x'), "BAD hardware_id, exiting...\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.id);
        SetUp();
        delivered.clear();
        sim_declare_device(2, r.id.c_str());
        sim_declare_device(12, "a mouse");
        sim_type(2, press(0x1E));
        run_result result = run("", &delivered);
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(std::string(banner) + r.expected, result.out);
        EXPECT_TRUE(result.delivered.empty());
        EXPECT_EQ(3, sim_filter(2));
        EXPECT_EQ(0, sim_filter(12));
        EXPECT_EQ(0, requests_with_code(ctl_write));
        EXPECT_EQ(0, sim_open_handles());
        EXPECT_EQ(0, sim_live_blocks());
    }
}

TEST_F(EntryTest, AFailedLoadExitsWithOneBeforeAnyFilterIsSet) {
    sim_declare_device(1, "kbd");
    sim_type(1, press(0x1E));
    run_result result = run("/nonexistent/padmap.cfg", &delivered);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(std::string(banner) + "failed to open /nonexistent/padmap.cfg\n", result.out);
    EXPECT_EQ(0, requests_with_code(ctl_set_filter));
}

TEST_F(EntryTest, RemapAsksTheIdForEveryStrokeAndReleasesEverythingAtTheEnd) {
    sim_declare_device(1, "kbd");
    sim_declare_device(2, "other");
    for (int i = 0; i < 3; ++i) {
        sim_type(1, press(0x3A));
        sim_type(2, press(0x3A));
    }
    run_result result = run(write_config("kbd\nCaps Backspace\n"), &delivered);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(6, requests_with_code(ctl_get_hardware_id));
    EXPECT_EQ(std::vector<std::string>({"1 000e 0000 00000000", "2 003a 0000 00000000", "1 000e 0000 00000000",
                                        "2 003a 0000 00000000", "1 000e 0000 00000000", "2 003a 0000 00000000"}),
              result.delivered);
    EXPECT_EQ(0, sim_open_handles());
    EXPECT_EQ(0, sim_live_blocks());
}

// A driver may answer an id without its terminator. The text then ends where
// the answer ends, not at whatever an earlier, longer id left in the buffer.
TEST_F(EntryTest, AnIdAnsweredWithoutTerminatorEndsWhereTheAnswerEnds) {
    struct row {
        const char* configured;
        const char* expected_from_device_1;
    } rows[] = {
        {"kbd", "1 000e 0000 00000000"},
        {"kbd-long", "1 003a 0000 00000000"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.configured);
        SetUp();
        delivered.clear();
        sim_declare_device(1, "kbd");
        sim_omit_id_terminator(1);
        sim_declare_device(2, "kbd-long");
        sim_type(2, press(0x1E));
        sim_type(1, press(0x3A));
        run_result result = run(write_config(std::string(r.configured) + "\nCaps Backspace\n"), &delivered);
        ASSERT_EQ(2u, result.delivered.size());
        EXPECT_EQ(r.expected_from_device_1, result.delivered[1]);
    }
}

}  // namespace
