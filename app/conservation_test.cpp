// Strokes the program has no reason to change must reach the system exactly as
// typed, in order: every stroke of every keyboard but the configured one, and
// the configured keyboard's keys that map to nothing. Random sessions with
// fixed seeds, through the program's own entry and the simulated driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace {

const char mappings[] = "Caps Backspace\nA S-B,Enter\nInsert Right\n#e05b user1\nF5 rW-user1,Num/\n";

// Lookup codes the configuration maps (the E0 flag folded into the high byte).
const uint16_t mapped_codes[] = {0x003A, 0x001E, 0xE052, 0xE05B, 0x003F};

// 499 units and the terminator fill the whole 1000-byte buffer: no usable id.
const std::string long_id(499, 'x');

const char keyboard_1_id[] = "HID\\VID_04D9&PID_1702";

// Ids that are close to the configured one but not it, and ids that are none
// (null: the id request fails).
// clang-format off
const struct {
    int device;
    const char* id;
} devices[] = {
    {1, keyboard_1_id},            {2, "HID\\VID_046D&PID_C31C"}, {3, nullptr},
    {4, "hid\\vid_04d9&pid_1702"}, {5, "HID\\VID_04D9&PID_1702 "}, {6, "HID\\VID_04D9&PID_170"},
    {7, ""},                       {8, long_id.c_str()},         {11, "HID\\VID_04D9&PID_1702"},
};
// clang-format on

bool is_mapped(const key_stroke& key) {
    return std::find(std::begin(mapped_codes), std::end(mapped_codes), lookup_code(key)) != std::end(mapped_codes);
}

struct mix {
    const char* name;
    std::string id;            // the configured hardware id
    int keyboard;              // the keyboard whose strokes are translated, 0 for none
    bool configured_unmapped;  // the configured keyboard types unmapped keys
    bool configured_mapped;    // ... and mapped ones
};

// The last names the keyboard whose driver answer fills the whole buffer: that
// answer is no id, so no keyboard is translated.
// clang-format off
const mix mixes[] = {
    {"other keyboards only", keyboard_1_id, 1, false, false},
    {"with the configured keyboard's unmapped keys", keyboard_1_id, 1, true, false},
    {"with the configured keyboard's mapped keys too", keyboard_1_id, 1, true, true},
    {"499-unit id", long_id, 0, false, false},
};
// clang-format on

constexpr int sessions = 200;
constexpr int max_strokes = 200;

// Any state bits and extra information; mostly ordinary make codes, now and
// then any 16-bit value, and now and then the code of a mapped key.
key_stroke random_key(std::mt19937& random) {
    key_stroke key;
    uint32_t pick = random() % 8;
    key.make_code = static_cast<uint16_t>(pick == 0 ? random() : random() % 0x80);
    if (pick == 1) key.make_code = mapped_codes[random() % 5] & 0xFF;
    key.key_state = static_cast<uint16_t>(random() % 4 == 0 ? random() : random() % 4);
    key.extra_info = random() % 2 ? 0 : static_cast<uint32_t>(random());
    return key;
}

sim_typed random_stroke(std::mt19937& random, const mix& m) {
    for (;;) {
        int device = devices[random() % (sizeof devices / sizeof devices[0])].device;
        if (device > 10) continue;
        sim_typed t = {device, random_key(random)};
        if (device != m.keyboard) return t;
        if (!m.configured_unmapped) continue;
        if (is_mapped(t.key) && !m.configured_mapped) continue;
        return t;
    }
}

std::string describe_not_from(int device, const std::vector<sim_typed>& strokes) {
    std::vector<sim_typed> kept;
    std::copy_if(strokes.begin(), strokes.end(), std::back_inserter(kept),
                 [device](const sim_typed& t) { return t.device != device; });
    return describe(kept);
}

TEST(Conservation, UnchangedStrokesReachTheSystemAsTyped) {
    for (const mix& m : mixes) {
        SCOPED_TRACE(m.name);
        const std::string config = write_config(m.id + "\n" + mappings);
        for (int seed = 1; seed <= sessions; ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed));
            std::mt19937 random(static_cast<uint32_t>(seed));
            std::vector<sim_typed> typed;
            // Nothing is checked of what comes before the first stroke.
            std::vector<std::string> logged = {""};
            int length = static_cast<int>(random() % (max_strokes + 1));
            for (int i = 0; i < length; ++i) {
                typed.push_back(random_stroke(random, m));
                char line[32] = "";
                if (typed.back().device == m.keyboard && !is_mapped(typed.back().key)) {
                    std::snprintf(line, sizeof line, "bypassing key %04x\n", lookup_code(typed.back().key));
                }
                logged.push_back(line);
            }

            sim_reset();
            for (const auto& d : devices) sim_declare_device(d.device, d.id);
            program_run run = run_program(typed, config);
            ASSERT_EQ(run.status, 0);
            expect_nothing_left();
            // Which of the configured keyboard's strokes are mapped is no concern here.
            int unchecked = m.configured_mapped ? m.keyboard : 0;
            EXPECT_EQ(describe_not_from(unchecked, run.delivered), describe_not_from(unchecked, typed));
            // A stroke's log comes only after all its sends, a pass-through included.
            for (size_t k = 0; k < run.delivered.size(); ++k) {
                if (run.during[k] < 0) continue;
                ASSERT_EQ(run.delivered_at[k], run.typed_at[run.during[k]]) << "delivery " << k;
            }
            std::vector<std::string> parts = output_parts(run);
            parts[0] = "";
            if (!m.configured_mapped) {
                EXPECT_EQ(parts, logged);
            }
            if (HasFailure()) return;
        }
        std::remove(config.c_str());
    }
}

}  // namespace
