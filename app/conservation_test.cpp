// Strokes the program has no reason to change must reach the system exactly as
// typed, in order: every stroke of every keyboard but the configured one, and
// the configured keyboard's keys that map to nothing. Random sessions with
// fixed seeds, through the program's own entry and the simulated driver.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/entry.h"
#include "driver/sim.h"
#include "keymap/config.h"
#include "keymap/key_table.h"

namespace {

const char mappings[] =
    "Caps Backspace\n"
    "A S-B,Enter\n"
    "Insert Right\n"
    "#e05b user1\n"
    "F5 rW-user1,Num/\n";

// Lookup codes the configuration maps (the E0 flag folded into the high byte).
const uint16_t mapped_codes[] = {0x003A, 0x001E, 0xE052, 0xE05B, 0x003F};

std::string long_id() {
    // 499 units and the terminator fill the whole 1000-byte buffer: no usable id.
    return std::string(499, 'x');
}

struct configuration {
    const char* name;
    std::string id;
    int keyboard;  // the keyboard whose strokes are translated, 0 for none
};

// The second names the keyboard whose driver answer fills the whole buffer:
// that answer is no id, so no keyboard is translated.
const configuration configurations[] = {
    {"id of keyboard 1", "HID\\VID_04D9&PID_1702", 1},
    {"499-unit id", long_id(), 0},
};

struct declared_device {
    int device;
    std::string id;
    bool has_id;
};

// Ids that are close to the configured one but not it, and ids that are none.
const declared_device devices[] = {
    {1, "HID\\VID_04D9&PID_1702", true},
    {2, "HID\\VID_046D&PID_C31C", true},
    {3, "", false},
    {4, "hid\\vid_04d9&pid_1702", true},
    {5, "HID\\VID_04D9&PID_1702 ", true},
    {6, "HID\\VID_04D9&PID_170", true},
    {7, "", true},
    {8, long_id(), true},
    {11, "HID\\VID_04D9&PID_1702", true},
};

struct session_state {
    std::vector<sim_typed> typed;
    size_t next = 0;
    std::vector<sim_typed> delivered;
};

bool type_next(void* context, sim_typed* next) {
    session_state* s = static_cast<session_state*>(context);
    if (s->next >= s->typed.size()) return false;
    *next = s->typed[s->next++];
    return true;
}

void note_delivery(void* context, int device, const key_stroke* key) {
    static_cast<session_state*>(context)->delivered.push_back({device, *key});
}

std::string config_path() {
    return testing::TempDir() + "padmap-conservation.cfg";
}

struct run_result {
    int status;
    std::string output;
};

void write_config(const configuration& c) {
    std::FILE* file = std::fopen(config_path().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs((c.id + "\n" + mappings).c_str(), file);
    std::fclose(file);
}

run_result run_padmap(session_state* session) {
    sim_reset();
    reset_key_table();
    reset_config();
    for (const declared_device& d : devices) {
        sim_declare_device(d.device, d.has_id ? d.id.c_str() : nullptr);
    }
    sim_set_source(type_next, session);
    sim_set_sink(note_delivery, session);
    std::string path8 = config_path();
    std::u16string path(path8.begin(), path8.end());
    const char16_t* argv[] = {u"padmap", path.c_str(), nullptr};
    testing::internal::CaptureStdout();
    run_result result;
    result.status = padmap_main(2, argv);
    result.output = testing::internal::GetCapturedStdout();
    sim_set_source(nullptr, nullptr);
    sim_set_sink(nullptr, nullptr);
    return result;
}

uint16_t lookup_code(const key_stroke& key) {
    return static_cast<uint16_t>(key.make_code | ((key.key_state & key_state_e0) ? 0xE000 : 0));
}

bool is_mapped(const key_stroke& key) {
    for (uint16_t code : mapped_codes) {
        if (lookup_code(key) == code) return true;
    }
    return false;
}

struct mix {
    const char* name;
    bool configured_unmapped;  // the configured keyboard types unmapped keys
    bool configured_mapped;    // ... and mapped ones
};

const mix mixes[] = {
    {"other keyboards only", false, false},
    {"with the configured keyboard's unmapped keys", true, false},
    {"with the configured keyboard's mapped keys too", true, true},
};

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

sim_typed random_stroke(std::mt19937& random, const mix& m, int configured_keyboard) {
    for (;;) {
        const declared_device& d = devices[random() % (sizeof devices / sizeof devices[0])];
        if (d.device > 10) continue;
        sim_typed t = {d.device, random_key(random)};
        if (d.device != configured_keyboard) return t;
        if (!m.configured_unmapped) continue;
        if (is_mapped(t.key) && !m.configured_mapped) continue;
        return t;
    }
}

std::vector<sim_typed> not_from(int device, const std::vector<sim_typed>& strokes) {
    std::vector<sim_typed> kept;
    for (const sim_typed& t : strokes) {
        if (t.device != device) kept.push_back(t);
    }
    return kept;
}

std::string describe(const std::vector<sim_typed>& strokes) {
    std::string text;
    char line[48];
    for (const sim_typed& t : strokes) {
        std::snprintf(line, sizeof line, "%d %04x %04x %08lx\n", t.device,
                      static_cast<unsigned>(t.key.make_code), static_cast<unsigned>(t.key.key_state),
                      static_cast<unsigned long>(t.key.extra_info));
        text += line;
    }
    return text;
}

TEST(Conservation, UnchangedStrokesReachTheSystemAsTyped) {
    for (const configuration& c : configurations) {
        SCOPED_TRACE(c.name);
        write_config(c);
        // What the program prints before any stroke: the banner and the echo.
        session_state empty;
        run_result start = run_padmap(&empty);
        ASSERT_EQ(start.status, 0);
        ASSERT_TRUE(empty.delivered.empty());

        for (const mix& m : mixes) {
            SCOPED_TRACE(m.name);
            for (int seed = 1; seed <= sessions; ++seed) {
                SCOPED_TRACE("seed " + std::to_string(seed));
                std::mt19937 random(static_cast<uint32_t>(seed));
                session_state session;
                int length = static_cast<int>(random() % (max_strokes + 1));
                std::string logged = start.output;
                for (int i = 0; i < length; ++i) {
                    session.typed.push_back(random_stroke(random, m, c.keyboard));
                    const sim_typed& t = session.typed.back();
                    if (t.device == c.keyboard && !is_mapped(t.key)) {
                        char line[32];
                        std::snprintf(line, sizeof line, "bypassing key %04x\n", lookup_code(t.key));
                        logged += line;
                    }
                }

                run_result result = run_padmap(&session);
                ASSERT_EQ(result.status, 0);
                ASSERT_EQ(sim_open_handles(), 0);
                ASSERT_EQ(sim_live_blocks(), 0);
                if (m.configured_mapped) {
                    ASSERT_EQ(describe(not_from(c.keyboard, session.delivered)),
                              describe(not_from(c.keyboard, session.typed)));
                } else {
                    ASSERT_EQ(describe(session.delivered), describe(session.typed));
                    ASSERT_EQ(result.output, logged);
                }
            }
        }
    }
    std::remove(config_path().c_str());
}

}  // namespace
