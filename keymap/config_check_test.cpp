#include "keymap/config_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/keymap_helpers.h"

namespace {

const std::string id = "HID\\VID_05AC&PID_0256&REV_0100&MI_00\n";

config_check check_text(const std::string& text) {
    config_check result;
    check_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &result);
    return result;
}

std::string findings_of(const config_check& result) {
    std::string text;
    for (const config_finding& f : result.findings) text += std::to_string(f.line) + ": " + f.message + "\n";
    return text;
}

std::string claims(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "#e1%02x Space\n", i);
        text += line;
    }
    return text;
}

// Each mistake a user makes, with what --check says of it and where; and a
// file that is right says nothing.
// clang-format off
const struct {
    const char* what;
    std::string text;
    std::string findings;
} cases[] = {
    {"a good file", id + "Caps Backspace\nF1 C-C\n\nF2 C-V,Enter\n#e05b user1\nF3 S-C-Z,user1\r\n", ""},
    {"a key name in the wrong case", id + "caps Backspace\n",
     "2: unknown key 'caps': did you mean 'Caps'?\n"},
    {"a tab after the key name", id + "Caps\tBackspace\nF1\tC-C Enter\n",
     "2: a tab does not separate a key from its outputs: use a space\n"
     "3: a tab does not separate a key from its outputs: use a space\n"},
    {"prefixes out of order", id + "F1 C-S-Z\n",
     "2: 'C-S-Z' has its prefixes out of order: write 'S-C-Z' (the order is S- C- A- W- rS- rC- rA- rW-)\n"},
    {"a prefix twice", id + "F1 C-C-V\n", "2: 'C-C-V' gives the prefix 'C-' twice: write 'C-V'\n"},
    {"a space after a comma", id + "F1 C-V, Enter\n",
     "2: a space ends the list of outputs: 'Enter' is ignored (write 'C-V,Enter')\n"},
    {"an unknown output", id + "F1 C-Foo,enter\n",
     "2: unknown output 'Foo'\n2: unknown output 'enter': did you mean 'Enter'?\n"},
    {"a 17th output", id + "F1 " + repeat("B", 16, ",") + ",Tab,Tab\n",
     "2: more than 16 outputs: 'Tab,Tab' is ignored\n"},
    {"a line that begins with a space", id + " Caps Backspace\n   \n",
     "2: the line begins with a space and is ignored\n"},
    {"the hardware id left out", "Caps Backspace\nF1 C-C\n",
     "1: 'Caps' is taken as the hardware id, so this line maps nothing: the file must begin with the keyboard's "
     "hardware id (padmap without an argument prints it)\n"},
    {"no hardware id at all", "\n \n\t\n", "4: the file holds no hardware id: its first word must be the keyboard's "
     "hardware id\n"},
    {"text after the hardware id", "kbd-1 two words\nCaps Backspace\n",
     "1: the hardware id is followed by 'two words', which is ignored\n"},
    {"an output no '#' line has claimed", id + "F5 user2\nF6 S-user1\n#e05b Space\n",
     "2: 'user2' sends nothing: no '#' line above claims 'user2' for a key\n"
     "3: 'S-user1' sends nothing: no '#' line above claims 'user1' for a key (line 4 does: move it above this one)\n"},
    {"an 11th '#' code", id + claims(11),
     "12: no user entry is left for '#e10b': ten '#' codes have taken user1 to user10\n"},
    {"a key given twice", id + "Num7 C-Z,C-Y\nNum7 C-A\n#0047 rA-X,rA-X,rA-X\n",
     "3: 'Num7' was mapped on line 2 already: the two lines merge, and the key now sends rA-X,rA-X,rA-X\n"
     "4: 'Num7' was mapped on line 2 already: the two lines merge, and the key now sends rA-X,rA-X,rA-X\n"},
    {"another spelling of a later name, and Pause", id + "Escape Space\nF1 escape\nPause X\nF2 C-Break\n",
     "2: unknown key 'Escape': did you mean 'Esc'?\n3: unknown output 'escape': did you mean 'Esc'?\n"
     "4: unknown key 'Pause': padmap passes Pause on as it is, and no line can map it\n"
     "5: unknown output 'Break': padmap cannot send Pause\n"},
    {"another name of a table key", id + "PgUp Home\nF1 return\n",
     "2: unknown key 'PgUp': did you mean 'PageUp'?\n3: unknown output 'return': did you mean 'Enter'?\n"},
    {"a key code too short, and code 0", id + "#1e X\n#0000 X\n",
     "2: '#1e' is too short: a key code has four hex digits, as in '#001e'\n3: '#0000' is no key's code\n"},
    {"empty outputs and keys without outputs", id + "A B,,C\nB C,\nC\nD \n",
     "2: an empty output between two commas\n3: the list of outputs ends with a comma\n"
     "4: 'C' is given no outputs\n5: 'D' is given no outputs\n"},
    {"comments in every place a line can have one", "kbd # my macro pad\n# copy and paste\n#\n#\tand\tpaste\n"
     "F1 C-C  # copy\nF2 C-V #paste\n#0001 Space # Esc\n# the end, without a line end", ""},
    {"a later name in the wrong case", id + "lwin Esc\nF1 f13,VOLUMEUP\n",
     "2: unknown key 'lwin': did you mean 'LWin'?\n3: unknown output 'f13': did you mean 'F13'?\n"
     "3: unknown output 'VOLUMEUP': did you mean 'VolumeUp'?\n"},
    {"a tab before a comment", id + "F1 C-X\t# cut\nF2 C-V,Enter\t# paste\n",
     "2: a tab does not end the outputs: put a space before a comment\n"
     "3: a tab does not end the outputs: put a space before a comment\n"},
    {"a comment before the hardware id", "# my pad\nkbd\nCaps Backspace\n",
     "1: '#' is taken as the hardware id: the file must begin with the keyboard's hardware id, and comments come "
     "after it\n2: 'kbd' is given no outputs\n"},
    {"a comment without its space", id + "#note X\n#copy\n#c0py X\n",
     "2: '#note' is neither a key nor a comment: a comment line begins with '#' and a space\n"
     "3: '#copy' is neither a key nor a comment: a comment line begins with '#' and a space\n"
     "4: '#c0py' is neither a key nor a comment: a comment line begins with '#' and a space\n"},
    {"a comment after outputs a space ends", id + "F1 C-V, Enter # paste\nF2 C-V, # paste\n",
     "2: a space ends the list of outputs: 'Enter' is ignored (write 'C-V,Enter')\n"
     "3: the list of outputs ends with a comma\n"},
    {"a comment in place of the outputs", id + "F1 # copy\n", "2: 'F1' is given no outputs\n"},
    {"a '#' line, then the later name of its key", id + "#0001 Space\nF1 C-C\nEsc Tab\n",
     "4: 'Esc' is '#0001', which line 2 claims as 'user1': strokes find that entry first, so this line does "
     "nothing\n"},
    {"the later name of a key, then its '#' line", id + "Esc Tab\n#0001 Space\n",
     "3: '#0001' is 'Esc', mapped on line 2: this line claims 'user1' for the key, which strokes find first, so "
     "that line does nothing\n"},
    {"a '#' line between two lines of the later name", id + "LWin Tab\n#E05B Space\nLWin A\n",
     "3: '#E05B' is 'LWin', mapped on line 2: this line claims 'user1' for the key, which strokes find first, so "
     "that line does nothing\n"
     "4: 'LWin' is '#e05b', which line 3 claims as 'user1': strokes find that entry first, so this line does "
     "nothing\n"
     "4: 'LWin' was mapped on line 2 already: the two lines merge, and the key now sends A\n"},
    {"a '#' line that finds no user entry leaves the later name alone", id + claims(10) + "Esc Tab\n#0001 Space\n",
     "13: no user entry is left for '#0001': ten '#' codes have taken user1 to user10\n"},
    {"sections that are right", id + "F1 C-C\nwhen Premiere Pro.exe, Resolve.exe\nF1 C-K\n"
     "when photoshop.exe\n#e05b user1  # a code in a section\nF1 user1\n", ""},
    {"a 'when' line without programs, with an empty one, a path, no extension",
     id + "when \nA B\nwhen a.exe,,C:\\Tools\\b.exe\nA C\nwhen Photoshop\nA D\n",
     "2: 'when' names no program: write the program's file name, as in 'when Photoshop.exe'\n"
     "4: an empty name in the list of programs is ignored\n"
     "4: 'C:\\Tools\\b.exe' is a path: name the program by its file name alone, 'b.exe'\n"
     "6: 'Photoshop' has no extension: padmap compares the program's file name, as in 'Photoshop.exe' "
     "(padmap --monitor shows it)\n"},
    {"a program two sections name", id + "when a.exe, B.exe\nA B\nwhen c.exe, b.EXE\nA C\n",
     "4: 'b.EXE' is named by the section of line 2 already: that section holds for it\n"},
    {"a program with other than ASCII letters that two sections name",
     id + "when K\xc3\xa4se.exe\nA B\nwhen k\xc3\xa4se.EXE\nA C\n",
     "4: 'k\xc3\xa4se.EXE' is named by the section of line 2 already: that section holds for it\n"},
    {"a section that maps nothing", id + "when a.exe\nA user1\nB , C\nwhen b.exe\n# nothing yet\n",
     "2: this section maps no key: no line of it gives a key an output\n"
     "3: 'user1' sends nothing: no '#' line above claims 'user1' for a key\n"
     "4: an empty output between two commas\n"
     "4: a space ends the list of outputs: 'C' is ignored (write ',C')\n"
     "5: this section maps no key: no line of it gives a key an output\n"},
    {"a key mapped twice in one section, once in another and outside",
     id + "A B\nwhen a.exe\nA C\nA ,D\nwhen b.exe\nA E\n",
     "5: an empty output between two commas\n"
     "5: 'A' was mapped on line 4 already: the two lines merge, and the key now sends C,D\n"},
    {"'when' in another case or with a tab", id + "When a.exe\nwhen\ta.exe\n",
     "2: unknown key 'When': a section begins with 'when' in lower case\n"
     "3: a tab does not separate 'when' from its programs: use a space\n"},
    {"more than eight programs", id + "when 1.exe,2.exe,3.exe,4.exe,5.exe,6.exe,7.exe,8.exe,9.exe,10.exe\nA B\n",
     "2: more than 8 programs: '9.exe' and the rest are ignored\n"},
    {"an id of 499 characters", std::string(499, 'k') + "\nCaps Backspace\n",
     "1: a hardware id of 499 characters never matches: the driver's answer for it fills its buffer\n"},
    {"an id of 500 characters", std::string(500, 'k') + "\nCaps Backspace\n",
     "1: the hardware id is 500 characters or longer, which padmap does not take\n"},
    {"layers named but not defined, never switched to, mapping nothing, badly named; a switch among outputs",
     id + "F12 layer(nav)\nF11 toggle(ghost)\nF10 A,layers-off\nF9 layer(empty)\nlayer nav  # arrows\nF1 Left\n"
          "layer unused\nF1 A\nlayer empty\nlayer two words\nF1 B\n",
     "3: 'toggle(ghost)' names a layer this file does not have (no 'layer ghost' line): the key maps nothing\n"
     "4: 'layers-off' switches layers and must be the only output of its line: here it sends nothing\n"
     "8: layer 'unused' is never switched on: no key has layer(unused) or toggle(unused)\n"
     "10: this layer maps no key: no line of it gives a key an output\n"
     "11: 'layer two words' names no layer: a layer's name is 1 to 32 letters, digits, '_' or '-': its lines are "
     "ignored\n"},
};
// clang-format on

TEST(ConfigCheck, NamesEachMistakeAtItsLine) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(findings_of(check_text(c.text)), c.findings);
    }
}

// Every name of the table as a key, and as an output with and without
// prefixes: the check finds nothing, and the loader stores the name's code.
TEST(ConfigCheck, EveryNameIsAKeyAndAnOutput) {
    const key_table& fresh = fresh_key_table();
    int names = 0;
    for (int i = 0; i < key_count; ++i) {
        if (is_user_key(i)) continue;
        const key_entry& key = fresh.entries[i];
        const std::string name = key.name;
        const char* other = name == "Tab" ? "Enter" : "Tab";
        SCOPED_TRACE(name);
        static config_check result;
        // The comma separates outputs: it is a key, but no output.
        bool output = name != ",";
        result = check_text(id + name + " B\n" + (output ? other + (" " + name + ",S-rA-" + name + "\n") : ""));
        EXPECT_EQ(findings_of(result), "");
        EXPECT_EQ(result.keys_mapped, output ? 2 : 1);
        const key_entry& mapped = result.loaded.keys.entries[i];
        EXPECT_EQ(mapped.outputs[0], 0x0030);
        ++names;
        if (!output) continue;
        const key_entry& sends = result.loaded.keys.entries[find_key_by_name(&fresh, other)];
        EXPECT_EQ(sends.outputs[0], key.scan_code);
        EXPECT_EQ(sends.modifiers[0], 0);
        EXPECT_EQ(sends.outputs[1], key.scan_code);
        EXPECT_EQ(sends.modifiers[1], mod_left_shift | mod_right_alt);
        EXPECT_EQ(sends.outputs[2], 0);
    }
    EXPECT_EQ(names, key_count - user_key_count);
}

TEST(ConfigCheck, EveryShippedExampleIsClean) {
    int examples = 0;
    for (const auto& file : std::filesystem::directory_iterator(std::string(PADMAP_SOURCE_DIR) + "/examples")) {
        if (file.path().extension() != ".cfg") continue;
        SCOPED_TRACE(file.path().filename().string());
        static config_check result;
        check_config(file.path().u16string().c_str(), &result);
        EXPECT_EQ(result.outcome, config_loaded);
        EXPECT_EQ(findings_of(result), "");
        EXPECT_GT(result.keys_mapped, 0);
        ++examples;
    }
    EXPECT_GE(examples, 4);
}

// A later name whose key a '#' line's user entry stands for is never reached:
// it is no key mapped.
TEST(ConfigCheck, CountsTheKeysStrokesReach) {
    // clang-format off
    const struct {
        std::string lines;
        int mapped;
    } rows[] = {
        {"Esc Tab\nLWin Space\n", 2},
        {"#0001 A-F4\nEsc Tab\n", 1},
        {"Esc Tab\n#0001 A-F4\n", 1},
        {"Esc Tab\n#0001 Nothing\n", 1},
        {"#e05b Space\nEsc Tab\nF1 user1\n", 3},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        EXPECT_EQ(check_text(id + row.lines).keys_mapped, row.mapped);
    }
}

// Lines of a configuration, right and wrong, to put together at random: the
// check must read every file to the same key table as the loader.
const char* const line_pieces[] = {
    "Caps Backspace",
    "F1 C-C",
    "F2 C-V,Enter",
    "#e05b user1",
    "#0000 B",
    "A user1",
    "A S-C-B,rA-Enter",
    "Num7 C-Z,C-Y",
    "Num7 C-A",
    "#e10a Space",
    "#1e X",
    " Caps X",
    "F3 C-S-Z",
    "F4 C-V, Enter",
    "F5 user2",
    "#001e X",
    "A",
    "A   ",
    "A B,,C",
    "user3 user3",
    "#e10b user3",
    "F6 S--",
    "Caps\tX",
    "#e05b1234 X",
    "F7 "
    "B,B,B,B,B,B,B,B,B,B,B,B,B,B,B,B,B,Tab",
    "X rW-rA-rC-rS-W-A-C-S-Y",
    "\xC3\xA9 X",
    "#zz00 X",
    "Esc C-F13",
    "#0001 X",
    "LWin rA-Esc,S-LWin",
    "#e05b Tab",
    "F24 user1,Mute",
    "VolumeUp S-Wake,BrowserBack",
    "esc X",
    "# a comment",
    "#",
    "F1 C-C  # copy",
    "F2 # paste",
    "#note X",
    "when a.exe",
    "when  Photoshop.exe, b.exe",
    "when ",
    "F8 user4",
};

TEST(ConfigCheck, AlwaysReadsTheTableTheLoaderBuilds) {
    std::mt19937 random(20261207);
    const int files = 3000;
    for (int n = 0; n < files; ++n) {
        std::string text = random() % 8 == 0 ? "" : id;
        for (int lines = static_cast<int>(random() % 30); lines > 0; --lines) {
            text += line_pieces[random() % (sizeof line_pieces / sizeof line_pieces[0])];
            text += random() % 5 == 0 ? "\r\n" : "\n";
        }
        config_check result = check_text(text);
        ASSERT_EQ(0, std::memcmp(&result.table, &result.loaded.keys, sizeof(key_table))) << text;
        // The loader on its own, without anyone listening, builds the same.
        capture_load([&] {
            return load_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &test_config());
        });
        ASSERT_EQ(0, std::memcmp(&result.table, &test_config().keys, sizeof(key_table))) << text;
        // A section the check says maps nothing is one whose table holds no first output.
        for (int s = 0; s < result.loaded.section_count; ++s) {
            const config_section& section = result.loaded.sections[s];
            bool maps = false;
            for (const key_entry& entry : section.keys.entries) maps = maps || entry.outputs[0] != 0;
            std::string said = "\n" + std::to_string(section.line) + ": this section maps no key";
            ASSERT_EQ(!maps, ("\n" + findings_of(result)).find(said) != std::string::npos) << text;
        }
    }
}

}  // namespace
