// A configuration's sections follow the program in front: while a window of
// a section's program is in front, a key the section gives a first output
// sends the section's outputs; every other key does what the lines outside
// sections say. A key held across a change of program keeps what its press
// used. Random sessions with the program in front switching at random
// points, checked against a model of each stroke's layout, and against what
// reaches the system: nothing left held, nothing released that was not
// pressed.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/translate.h"
#include "keymap/config.h"
#include "tests/support/program_run.h"

namespace {

const char pad_id[] = "HID\\VID_1A86&PID_E026&MI_00";

// Two sections name Premiere Pro.exe: the first holds. The Photoshop section's
// F2 names user1 before a '#' line of that section claims it, so it gives F2
// no first output and F2 does what the lines outside sections say there.
const char layout_text[] =
    "HID\\VID_1A86&PID_E026&MI_00\n"
    "F1 B\n"
    "F2 Backspace\n"
    "F3 C-C\n"
    "when Premiere Pro.exe, Resolve.exe\n"
    "F1 S-C-Z\n"
    "F2 A,B,C\n"
    "#e05b X\n"
    "when PHOTOSHOP.EXE\n"
    "F3 rA-Right,C-Home\n"
    "F2 user1\n"
    "#0045 Y\n"
    "when Premiere Pro.exe\n"
    "F1 Enter\n";

// The model's own reading of the sections: which one a program in front
// picks (ASCII case folded, first section first), and what each gives.
struct model_section {
    std::vector<std::string> programs;  // lower case
    std::string label;
};
const model_section model_sections[] = {
    {{"premiere pro.exe", "resolve.exe"}, "Premiere Pro.exe, Resolve.exe"},
    {{"photoshop.exe"}, "PHOTOSHOP.EXE"},
    {{"premiere pro.exe"}, "Premiere Pro.exe"},
};

// What can be in front: null for no window, "" for one whose program padmap
// cannot ask (an elevated one), else a program's file name.
const char* const programs[] = {nullptr, "", "Premiere Pro.exe", "resolve.EXE", "Photoshop.exe", "explorer.exe"};

const uint16_t typed_keys[] = {0x3B, 0x3C, 0x3D, 0x3F, 0xE05B, 0x0045};

int model_section_for(const char* program) {
    if (program == nullptr || program[0] == 0) return -1;
    std::string lower(program);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int s = 0; s < 3; ++s) {
        for (const std::string& name : model_sections[s].programs) {
            if (name == lower) return s;
        }
    }
    return -1;
}

const config& loaded_layout() {
    static config loaded;
    static bool read = false;
    if (!read) {
        read_config_bytes(reinterpret_cast<const uint8_t*>(layout_text), sizeof layout_text - 1, &loaded, nullptr);
        read = true;
    }
    return loaded;
}

// The log of one stroke pressed under the section (-1: outside sections).
std::string expected_log(int section, key_stroke key) {
    const config& layout = loaded_layout();
    int index = find_key_by_code(&layout.keys, lookup_code(key));
    key_entry entry = {};
    std::string prefix;
    if (index >= 0) {
        entry = layout.keys.entries[index];
        if (section >= 0 && layout.sections[section].keys.entries[index].outputs[0] != 0) {
            const key_entry& own = layout.sections[section].keys.entries[index];
            std::copy(own.outputs, own.outputs + key_outputs, entry.outputs);
            std::copy(own.modifiers, own.modifiers + key_outputs, entry.modifiers);
            prefix = "when " + model_sections[section].label + ": ";
        }
    }
    stroke_log log;
    static held_outputs held;
    reset_held_outputs(&held);
    static engine_actions out;
    clear_actions(&out);
    translate_entry(index >= 0 ? &entry : nullptr, key, output_target{1, &held, &out}, prefix.c_str(), &log);
    return std::string(log.text, log.length);
}

struct planned {
    sim_typed typed;
    std::string expected;
};

sim_typed bring_to_front(const char* program) {
    sim_typed t = {};
    t.kind = sim_typed_front;
    t.id = program;
    return t;
}

std::vector<planned> random_session(std::mt19937& random, int* held_across) {
    std::vector<planned> items;
    int section = -1;
    std::map<uint16_t, int> held;  // key -> the section its press used
    int length = static_cast<int>(random() % 70);
    for (int i = 0; i < length; ++i) {
        planned item;
        if (random() % 5 == 0) {
            const char* program = programs[random() % (sizeof programs / sizeof programs[0])];
            section = model_section_for(program);
            item.typed = bring_to_front(program);
            *held_across += static_cast<int>(held.size());
            items.push_back(item);
            continue;
        }
        uint16_t code = typed_keys[random() % 6];
        auto down = held.find(code);
        bool release = down != held.end() && random() % 2 == 0;
        int used = down != held.end() ? down->second : section;
        if (down == held.end()) held[code] = section;
        if (release) held.erase(code);
        item.typed = sim_typed{1, stroke_of(code, release)};
        item.expected = expected_log(used, item.typed.key);
        items.push_back(item);
    }
    for (const auto& key : held) {
        planned item;
        item.typed = sim_typed{1, stroke_of(key.first, true)};
        item.expected = expected_log(key.second, item.typed.key);
        items.push_back(item);
    }
    return items;
}

TEST(Sections, TheProgramInFrontPicksTheSectionAndHeldKeysKeepTheirs) {
    const std::string config_path = write_config(layout_text);
    int held_across = 0, from_sections = 0;
    for (int seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(static_cast<uint32_t>(seed));
        std::vector<planned> items = random_session(random, &held_across);
        std::vector<sim_typed> script;
        for (const planned& item : items) script.push_back(item.typed);
        sim_reset();
        sim_declare_device(1, pad_id);
        program_run run = run_program(script, config_path);
        ASSERT_EQ(run.status, 0);
        expect_nothing_left();
        std::vector<std::string> parts = output_parts(run);
        ASSERT_EQ(parts.size(), items.size() + 1);
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(parts[i + 1], items[i].expected) << "item " << i;
            from_sections += items[i].expected.compare(0, 5, "when ") == 0;
        }
        EXPECT_EQ(check_outputs_balance(run, script, 1), "") << describe(script) << "delivered:\n"
                                                             << describe(run.delivered);
        if (HasFailure()) return;
    }
    EXPECT_GT(from_sections, 200);
    EXPECT_GT(held_across, 100);
}

}  // namespace
