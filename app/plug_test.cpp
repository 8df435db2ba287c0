// Random sessions on a pad whose slot changes hands while keys are down: the
// pad unplugged and plugged in again, another keyboard in its place, its id
// not readable yet; with keys that hold modifiers, keys passed on and keys
// whose outputs carry modifiers, and a stop at a random point. Whatever
// happens, padmap never releases a key that is not down on the system (a
// stroke passed on as typed excepted: it is the keyboard's own), and nothing
// is held at the end (after a stop, keys passed on come up through the
// keyboard padmap lets go).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/program_run.h"

namespace {

const char pad_id[] = "HID\\VID_1A86&PID_E026&MI_00";
const char other_id[] = "HID\\VID_0C45&PID_7663&MI_00";
const char main_id[] = "ACPI\\VEN_PNP&DEV_0303";

// F1 and F2 wrap their outputs in modifiers, Caps holds Ctrl, F3 holds right
// Alt and sends Home with it; A, Tab and LShift pass on. (No key passed on is
// also an output: two keys that hold one key of the system each answer for
// their own, and the first to let go brings it up for both.)
const char mappings[] = "F1 C-C\nF2 S-C-Z,Enter\nCaps LCtrl\nF3 RAlt,rA-Home\n";
const uint16_t pad_keys[] = {0x3B, 0x3C, 0x3A, 0x3D, 0x1E, 0x0F, 0x2A};

sim_typed stroke_on(int device, uint16_t make, bool release) {
    return sim_typed{device, key_stroke{make, static_cast<uint16_t>(release ? key_state_up : 0), 0}};
}

sim_typed id_change(const char* id) {
    sim_typed t = {};
    t.device = 2;
    t.kind = sim_typed_id;
    t.id = id;
    return t;
}

// A session as a user makes it: keys go down and come up on the keyboard in
// slot 2, which is the pad, another keyboard or one whose id cannot be read.
// The pad leaves with its keys down; another keyboard's keys, which padmap
// never answers for, come up before it leaves.
std::vector<sim_typed> random_session(std::mt19937& random, bool pad_first) {
    std::vector<sim_typed> items;
    bool pad = pad_first;
    const char* now = pad_first ? pad_id : nullptr;
    std::set<uint16_t> down;  // keys down on the keyboard now in slot 2
    int length = static_cast<int>(random() % 50);
    for (int i = 0; i < length; ++i) {
        int what = static_cast<int>(random() % 10);
        if (what < 4) {
            uint16_t key = pad_keys[random() % (sizeof pad_keys / sizeof pad_keys[0])];
            items.push_back(stroke_on(2, key, false));
            down.insert(key);
        } else if (what < 7 && !down.empty()) {
            auto it = down.begin();
            std::advance(it, static_cast<long>(random() % down.size()));
            items.push_back(stroke_on(2, *it, true));
            down.erase(it);
        } else if (what == 7) {
            items.push_back(stroke_on(1, 0x2E, false));
            items.push_back(stroke_on(1, 0x2E, true));
        } else {
            const char* ids[] = {pad_id, other_id, nullptr};
            const char* id = ids[random() % 3];
            // The same id again is the same keyboard: nothing leaves.
            if (id != now) {
                if (!pad) {
                    for (uint16_t key : down) items.push_back(stroke_on(2, key, true));
                }
                down.clear();
            }
            items.push_back(id_change(id));
            pad = id == pad_id;
            now = id;
        }
    }
    for (uint16_t key : down) items.push_back(stroke_on(2, key, true));
    return items;
}

std::string session_text(const std::vector<sim_typed>& items) {
    std::string text;
    for (const sim_typed& t : items) {
        if (t.kind == sim_typed_id) {
            text += std::string("id 2 ") + (t.id == nullptr ? "(none)" : t.id == pad_id ? "pad" : "other") + "\n";
        } else {
            text += describe({t});
        }
    }
    return text;
}

TEST(Plug, KeysHeldWhileTheSlotChangesHandsAreNeverLeftDownNorReleasedTwice) {
    const std::string config = write_config(std::string(pad_id) + "\n" + mappings);
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        bool pad_first = random() % 4 != 0;
        std::vector<sim_typed> script = random_session(random, pad_first);
        sim_reset();
        sim_declare_device(1, main_id);
        sim_declare_device(2, pad_first ? pad_id : nullptr);
        run_options options;
        if (random() % 3 == 0) options.stop_at_delivery = random() % 40;
        program_run run = run_program(script, config, options);
        ASSERT_EQ(0, run.status);
        // (device, code with E0) -> down; and whether it went down as typed,
        // which after a stop comes up through the keyboard padmap lets go.
        std::map<std::pair<int, int>, bool> system;
        std::map<std::pair<int, int>, bool> typed_down;
        bool stopped = run.typed_at.size() < script.size();
        for (size_t k = 0; k < run.delivered.size(); ++k) {
            const sim_typed& d = run.delivered[k];
            std::pair<int, int> code = {d.device, lookup_code(d.key)};
            bool release = (d.key.key_state & key_state_up) != 0;
            int typed = run.during[k];
            bool as_typed = typed >= 0 && script[static_cast<size_t>(typed)].kind == sim_typed_key &&
                            script[static_cast<size_t>(typed)] == d;
            if (release && !system[code] && !as_typed) {
                ADD_FAILURE() << "delivery " << k << " releases " << std::hex << code.second << " on " << d.device
                              << ", which is not down\n"
                              << session_text(script) << "delivered:\n"
                              << describe(run.delivered);
            }
            system[code] = !release;
            typed_down[code] = !release && as_typed;
        }
        for (const auto& key : system) {
            if (stopped && typed_down[key.first]) continue;
            EXPECT_FALSE(key.second) << std::hex << key.first.second << " is left down on " << key.first.first << "\n"
                                     << session_text(script) << "delivered:\n"
                                     << describe(run.delivered);
        }
        if (HasFailure()) break;
    }
    std::remove(config.c_str());
}

}  // namespace
