#include "app/watcher.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim.h"
#include "tests/support/program_run.h"

namespace {

TEST(Restart, WaitsDoubleUpToThirtySecondsAndStopAtTheFifthEndInTenMinutes) {
    struct end_case {
        const char* name;
        std::vector<uint64_t> ends_s;  // the unexpected ends, seconds of the watcher's clock
        std::vector<int64_t> waits_ms;
    };
    const end_case cases[] = {
        {"one end", {100}, {1000}},
        {"quick ends: four restarts, then none", {0, 1, 3, 7, 15}, {1000, 2000, 4000, 8000, -1}},
        {"ends five minutes apart double up to the cap, and never stop",
         {0, 300, 600, 900, 1200, 1500, 1800},
         {1000, 2000, 4000, 8000, 16000, 30000, 30000}},
        {"an end after ten quiet minutes starts again at 1 s", {0, 1, 700}, {1000, 2000, 1000}},
        {"ends that leave the window are forgotten: the fifth in all is no fifth in ten minutes",
         {0, 100, 200, 300, 601, 602},
         {1000, 2000, 4000, 8000, 16000, -1}},
    };
    for (const end_case& c : cases) {
        restart_record record;
        reset_restart_record(&record);
        std::vector<int64_t> waits;
        for (uint64_t end : c.ends_s) waits.push_back(restart_delay(&record, end * 1000));
        EXPECT_EQ(waits, c.waits_ms) << c.name;
    }
}

TEST(Restart, LinesSayTheCauseAndWhatComesNext) {
    EXPECT_EQ(loop_ended_line(1), "the key loop ended unexpectedly: exit code 1\n");
    EXPECT_EQ(loop_ended_line(0xC0000005),
              "the key loop ended unexpectedly: access violation (exit code 0xc0000005)\n");
    EXPECT_EQ(loop_ended_line(0xE0000001), "the key loop ended unexpectedly: exit code 0xe0000001\n");
    EXPECT_EQ(restart_line(2000), "starting the key loop again in 2 s\n");
    EXPECT_EQ(restart_line(-1),
              "the key loop ended unexpectedly 5 times in 10 minutes: padmap does not start it again, and the pads "
              "type as plain keyboards\n");
}

struct delivered {
    std::vector<std::string> strokes;
};

void record(void* context, int device, const key_stroke* key) {
    char text[32];
    std::snprintf(text, sizeof text, "%d %04x %04x", device, key->make_code, key->key_state);
    static_cast<delivered*>(context)->strokes.push_back(text);
}

// What a crashed loop left listed is released once, on its keyboard; what it
// let go of is not released again.
TEST(Restart, TheTableIsReleasedKeyByKeyOnItsKeyboard) {
    sim_reset();
    sim_declare_device(1, "ACPI\\PNP0303");
    sim_declare_device(3, "HID\\VID_1A86&PID_E026");
    delivered got;
    sim_set_sink(record, &got);
    published_keys table;
    reset_published_keys(&table);
    const key_stroke ctrl = {0x1D, 0, 0}, right_alt = {0x38, key_state_e0, 0}, a = {0x1E, 0, 0};
    publish_sent(&table, 3, right_alt);
    publish_sent(&table, 3, ctrl);
    publish_sent(&table, 1, a);
    publish_sent(&table, 1, key_stroke{0x1E, key_state_up, 0});
    publish_sent(&table, 11, ctrl);
    std::string log;
    EXPECT_EQ(release_published(&table, &log), 2);
    EXPECT_EQ(log, "released keyboard 3 001d, keyboard 3 e038\n");
    EXPECT_EQ(got.strokes, (std::vector<std::string>{"3 001d 0001", "3 0038 0003"}));

    reset_published_keys(&table);
    log.clear();
    EXPECT_EQ(release_published(&table, &log), 0);
    EXPECT_EQ(log, "it held no key\n");
    sim_set_sink(nullptr, nullptr);
    EXPECT_EQ(sim_open_handles(), 0);
    sim_reset();
}

// Random sessions of a pad with layers and holds, its key loop killed at a
// random point, the watcher's release, the loop started again and every key
// let go: what reaches the system never releases an output that is not down
// (a key passed on as typed aside), and at the end nothing is down.
TEST(Restart, AKillAtAnyPointLeavesNothingHeldOnceTheWatcherReleased) {
    const std::string config = write_config(
        "HID\\VID_1A86&PID_E026\nhold-time 200\nF1 Esc\nhold F1 LCtrl\nhold F2 layer(nav)\nF3 toggle(nav)\n"
        "F4 S-C-A\nF5 RAlt\nlayer nav\nF4 Left\nF5 C-Home\nF6 RShift\n");
    const uint16_t keys[] = {0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40};
    for (unsigned seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::vector<sim_typed> before, after;
        std::map<uint16_t, bool> typed_down;
        int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            uint16_t key = keys[random() % 6];
            if (random() % 5 == 0) {
                sim_typed quiet = {1, {}, sim_typed_pause};
                quiet.pause_ms = random() % 400;
                before.push_back(quiet);
                continue;
            }
            bool release = typed_down[key] && random() % 2;
            typed_down[key] = !release;
            before.push_back({1, stroke_of(key, release)});
        }
        before.push_back({0, {}, sim_typed_crash});
        for (const auto& key : typed_down) {
            if (key.second) after.push_back({1, stroke_of(key.first, true)});
        }

        sim_reset();
        sim_declare_device(1, "HID\\VID_1A86&PID_E026");
        sim_publish_keys();
        program_run first = run_program(before, config);
        ASSERT_TRUE(sim_killed());
        sim_restart();
        delivered released;
        sim_set_sink(record, &released);
        std::string log;
        release_published(sim_published_keys(), &log);
        sim_set_sink(nullptr, nullptr);
        program_run second = run_program(after, config);

        std::map<std::pair<uint16_t, uint16_t>, bool> down;  // (make code, E0) -> down on the system
        auto reach = [&](const key_stroke& key, const char* when) {
            auto code = std::make_pair(key.make_code, static_cast<uint16_t>(key.key_state & key_state_e0));
            bool release = (key.key_state & key_state_up) != 0;
            if (release && !down[code]) ADD_FAILURE() << when << " released " << std::hex << key.make_code;
            down[code] = !release;
        };
        // The pad's own keys (passed on as typed, or a tap) are the
        // keyboard's: their release comes as typed. No output is one of them.
        auto passed = [&keys](const sim_typed& d) {
            return d.key.make_code >= keys[0] && d.key.make_code <= keys[5] && !(d.key.key_state & key_state_e0);
        };
        for (const sim_typed& d : first.delivered) {
            if (!passed(d)) reach(d.key, "the killed loop");
        }
        for (const std::string& line : released.strokes) {
            unsigned device, make, state;
            std::sscanf(line.c_str(), "%u %x %x", &device, &make, &state);
            reach(key_stroke{static_cast<uint16_t>(make), static_cast<uint16_t>(state), 0}, "the watcher");
        }
        for (const sim_typed& d : second.delivered) {
            if (!passed(d)) reach(d.key, "the new loop");
        }
        for (const auto& code : down) EXPECT_FALSE(code.second) << std::hex << code.first.first << " is left down";
        if (HasFailure()) break;
    }
    sim_reset();
}

}  // namespace
