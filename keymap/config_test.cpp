#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keymap/config.h"
#include "keymap/key_table.h"
#include "tests/support/keymap_helpers.h"

namespace {

struct mapping_case {
    const char* what;
    std::string lines;  // after the hardware-id line
    std::string echo;
    std::string changes;  // as describe_table_changes() gives them
};

TEST(MappingLines, EachLineOnAFreshTable) {
    // Eleven new codes: the last finds no user entry left; the first is found again.
    std::string eleven, eleven_echo, eleven_changes;
    for (int i = 0; i < 11; ++i) {
        std::string code = hex4(0x0170 + i);
        eleven += "#" + code + " B\n";
        if (i == 10) break;
        eleven_echo += "#" + code + "->B\n";
        eleven_changes += "user" + std::to_string(i + 1) + "=" + code + (i > 0 ? " 0030:00;" : " 002e:00;");
    }
    // A pad that sends F13-F24: twelve keys, more than the ten user entries
    // that were once the only way to reach them.
    std::string f13_to_f24, f13_to_f24_echo, f13_to_f24_changes;
    for (int i = 0; i < 12; ++i) {
        std::string key = "F" + std::to_string(13 + i), out = std::string(1, static_cast<char>('A' + i));
        f13_to_f24 += key + " C-" + out + "\n";
        f13_to_f24_echo += key + "->C-" + out + "\n";
        f13_to_f24_changes +=
            key + " " + hex4(fresh_key_table().entries[find_key_by_name(&fresh_key_table(), out.c_str())].scan_code) +
            ":02;";
    }
    // clang-format off
    const mapping_case cases[] = {
        {"later names as keys and outputs", "Esc S-F13,RCtrl\nF24 rA-LWin\n", "Esc->S-F13\nEsc->RCtrl\nF24->rA-LWin\n",
         "Esc 0064:01 e01d:00;F24 e05b:40;"},
        {"later names are case-sensitive", "esc X\nF1 lwin\nF2 F25\n", "", ""},
        {"twelve keys with later names, no user entry", f13_to_f24, f13_to_f24_echo, f13_to_f24_changes},
        // The '#' line claims a user entry whichever comes first, as it did
        // before the key had a name; strokes find that entry first.
        {"a '#' line, then the later name of its key", "#0001 X\nEsc Y\n", "#0001->X\nEsc->Y\n",
         "user1=0001 002d:00;Esc 0015:00;"},
        {"the later name of a key, then its '#' line", "Esc Y\n#0001 X\n", "Esc->Y\n#0001->X\n",
         "user1=0001 002d:00;Esc 0015:00;"},
        {"a claimed entry and the later name send one code", "#e05b user1,LWin\n", "#e05b->user1\n#e05b->LWin\n",
         "user1=e05b e05b:00 e05b:00;"},
        {"comments", "# copy\n#\n#\tx y\nF1 C-C  # copy\nF2 C-V #paste, A\n", "F1->C-C\nF2->C-V\n",
         "F1 002e:02;F2 002f:02;"},
        {"space after comma ends the list", "A B, C\n", "A->B\n", "A 0030:00;"},
        {"shift prefix", "A S-B\n", "A->S-B\n", "A 0030:01;"},
        {"prefix out of order is part of the name", "A C-S-B\n", "", "A 0000:02;"},
        {"prefix then the minus key", "A S--\n", "A->S--\n", "A 000c:01;"},
        {"every prefix in order", "A S-C-A-W-rS-rC-rA-rW-B\n", "A->S-C-A-W-rS-rC-rA-rW-B\n", "A 0030:ff;"},
        {"right shift before left shift", "A rS-S-B\n", "", "A 0000:10;"},
        {"right alt", "A rA-Right\n", "A->rA-Right\n", "A e04d:40;"},
        {"prefix with empty name keeps its bit", "A S-,B\n", "A->B\n", "A 0000:01 0030:00;"},
        {"hex code claims a user entry, again finds it", "#e05b Space\n#e05b Tab\n",
         "#e05b->Space\n#e05b->Tab\n", "user1=e05b 000f:00;"},
        {"upper case hex", "#E05B Space\n", "#E05B->Space\n", "user1=e05b 0039:00;"},
        {"hex code of a named key", "#001e X\n", "#001e->X\n", "A 002d:00;"},
        {"lines without a known key or output change nothing",
         "#1e X\n#e05 X\n#e0x5b X\n#x123 A\n# A\nA\tB\n A B\nA\na B\nA b\nA #001e\nA ?\n", "", ""},
        {"only the low 16 bits", "#1e05b X\n", "#1e05b->X\n", "user1=e05b 002d:00;"},
        {"too large saturates", "#e05b1234 X\n", "#e05b1234->X\n", "user1=ffff 002d:00;"},
        {"largest value that does not saturate", "#7fffe05b X\n", "#7fffe05b->X\n", "user1=e05b 002d:00;"},
        {"just too large", "#80000000 X\n", "#80000000->X\n", "user1=ffff 002d:00;"},
        {"many leading zeros", "#000000000000000000e05b X\n", "#000000000000000000e05b->X\n",
         "user1=e05b 002d:00;"},
        {"digits stop at the first other character", "#e05bxyz Space\n", "#e05bxyz->Space\n",
         "user1=e05b 0039:00;"},
        {"code 0 writes into the unclaimed entry", "#0000 B\n", "#0000->B\n", "user1 0030:00;"},
        {"unclaimed user entry as output", "A user1\n", "A->user1\n", ""},
        {"claimed user entry maps to itself", "#e05b user1\n", "#e05b->user1\n", "user1=e05b e05b:00;"},
        {"user entry as key by name", "user2 B\n", "user2->B\n", "user2 0030:00;"},
        {"spaces only clear the first modifier", "A S-B\nA   \n", "A->S-B\n", "A 0030:00;"},
        {"seventeen tokens, sixteen stored", "A " + repeat("B", 17, ",") + "\n", repeat("A->B\n", 16),
         "A" + repeat(" 0030:00", 16) + ";"},
        {"empty token leaves a gap", "A B,,C\n", "A->B\nA->C\n", "A 0030:00 0000:00 002e:00;"},
        {"several spaces before the list", "A    B\n", "A->B\n", "A 0030:00;"},
        {"rest of the line after a space", "A B C\n", "A->B\n", "A 0030:00;"},
        {"last line without LF", "A B", "A->B\n", "A 0030:00;"},
        {"extended key as output", "Caps Insert,NumEnter\n", "Caps->Insert\nCaps->NumEnter\n",
         "Caps e052:00 e01c:00;"},
        {"second line overwrites only what it reaches", "A B,C,D\nA E\n", "A->B\nA->C\nA->D\nA->E\n",
         "A 0012:00 002e:00 0020:00;"},
        {"unknown output keeps the earlier output", "A B\nA Bogus\n", "A->B\n", "A 0030:00;"},
        {"punctuation keys", "; ',/\n", ";->'\n;->/\n", "; 0028:00 0035:00;"},
        {"second piece of a long line starts at the next key", "A B" + std::string(1020, ' ') + "C D\n",
         "A->B\nC->D\n", "A 0030:00;C 0020:00;"},
        {"second piece starts one unit later", "A B" + std::string(1019, ' ') + "C D\n", "A->B\n",
         "A 0030:00;"},
        {"surrogate pairs count as two units of a piece", "A B " + repeat("\xF0\x9F\x98\x80", 509) + " C D\n",
         "A->B\nC->D\n", "A 0030:00;C 0020:00;"},
        {"eleventh new hex code", eleven + "#0170 C\n", eleven_echo + "#0170->C\n", eleven_changes},
        {"a very long junk line", std::string(100000, 'x') + "\nC D\n", "C->D\n", "C 0020:00;"},
    };
    // clang-format on
    for (const mapping_case& row : cases) {
        SCOPED_TRACE(row.what);
        fresh_keymap();
        captured_load result = load_bytes_captured("kbd\n" + row.lines);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(row.echo, result.out);
        EXPECT_EQ(row.changes, describe_table_changes());
    }
}

TEST(HardwareIdWord, FirstWordOfTheFile) {
    const std::string fail = no_id_message;
    expect_id_cases({
        {"plain", "HID\\VID_046D&PID_C31C\nA B\n", true, u"HID\\VID_046D&PID_C31C", "A->B\n"},
        {"white space and blank lines before it", " \t\n\v\f\r\n  kbd\nA B\n", true, u"kbd", "A->B\n"},
        {"rest of its line begins with a space", "kbd A B\nC D\n", true, u"kbd", "C->D\n"},
        {"rest of its line begins with a tab", "kbd\tA B\n", true, u"kbd", ""},
        {"file ends right after it", "kbd", true, u"kbd", ""},
        {"499 units", std::string(499, 'k') + "\nA B\n", true, std::u16string(499, u'k'), "A->B\n"},
        {"500 units", std::string(500, 'k') + "\nA B\n", false, u"", fail},
        {"zero unit counts and ends the id", utf16_bytes(std::u16string(u"ab\0cd\nA B\n", 10)), true, u"ab", "A->B\n"},
        {"zero unit as the 500th unit", utf16_bytes(std::u16string(498, u'k') + std::u16string(u"\0k\n", 3)), false,
         u"", fail},
        {"zero unit as the 499th unit", utf16_bytes(std::u16string(498, u'k') + std::u16string(u"\0\n", 2)), true,
         std::u16string(498, u'k'), ""},
        {"rest of its line longer than a piece", "kbd" + std::string(1023, ' ') + "A B\n", true, u"kbd", "A->B\n"},
        {"empty file", "", false, u"", fail},
        {"white space only", " \r\n\t\n", false, u"", fail},
    });
}

// Every load starts from a fresh configuration: nothing of an earlier file
// stays, and a file that fails leaves no id behind.
TEST(HardwareIdWord, EachLoadStartsFresh) {
    fresh_keymap();
    ASSERT_TRUE(load_bytes_captured("keyboard-one\nA B\n#e05b C\n").ok);
    EXPECT_EQ("A 0030:00;user1=e05b 002e:00;", describe_table_changes());
    ASSERT_TRUE(load_bytes_captured("kb\nCaps Backspace\n").ok);
    for (int i = 2; i < hardware_id_units; ++i) ASSERT_EQ(0, test_config().configured_hardware_id[i]) << i;
    EXPECT_EQ(u"kb", std::u16string(test_config().configured_hardware_id));
    EXPECT_EQ("Caps 000e:00;", describe_table_changes());
    EXPECT_FALSE(load_bytes_captured(std::string(600, 'x')).ok);
    EXPECT_EQ(u"", std::u16string(test_config().configured_hardware_id));
    EXPECT_EQ("", describe_table_changes());
}

// Each section as "[label|program|program] changes" after the lines outside
// sections' changes.
std::string describe_sections() {
    const config& loaded = test_config();
    std::string text = describe_table_changes();
    for (int s = 0; s < loaded.section_count; ++s) {
        const config_section& section = loaded.sections[s];
        text += " [" + std::string(section.label);
        for (int p = 0; p < section.program_count; ++p) text += "|" + std::string(section.programs[p]);
        text += "] " + describe_table_changes(section.keys);
    }
    return text;
}

TEST(Sections, WhenLinesStartSectionsWhoseLinesKeepTheirOwnOutputs) {
    // clang-format off
    const struct {
        const char* what;
        std::string lines;  // after the hardware id
        std::string echo;
        std::string sections;
    } rows[] = {
        {"outside and in a section", "A B\nwhen Photoshop.exe\nA C\nB D\n",
         "A->B\nwhen Photoshop.exe\nA->C\nB->D\n", "A 0030:00; [Photoshop.exe|Photoshop.exe] A 002e:00;B 0020:00;"},
        {"only sections", "when a.exe\nA B\nwhen b.exe\nA C\n", "when a.exe\nA->B\nwhen b.exe\nA->C\n",
         " [a.exe|a.exe] A 0030:00; [b.exe|b.exe] A 002e:00;"},
        {"names with spaces, blanks around them, empty names dropped",
         "when  Premiere Pro.exe ,\tResolve.exe,, \r\nA B\n", "when Premiere Pro.exe, Resolve.exe\nA->B\n",
         " [Premiere Pro.exe, Resolve.exe|Premiere Pro.exe|Resolve.exe] A 0030:00;"},
        {"a '#' line claims from the file's one set of user entries",
         "#0001 X\nwhen a.exe\n#e05b user1\nF1 user2\n",
         "#0001->X\nwhen a.exe\n#e05b->user1\nF1->user2\n",
         "user1=0001 002d:00;user2=e05b; [a.exe|a.exe] F1 e05b:00;user2 0001:00;"},
        {"no program: a section that never applies", "when \nA B\nwhen ,\nA C\n", "when \nA->B\nwhen \nA->C\n",
         " [] A 0030:00; [] A 002e:00;"},
        {"eight programs at most", "when 1,2,3,4,5,6,7,8,9\nA B\n", "when 1, 2, 3, 4, 5, 6, 7, 8\nA->B\n",
         " [1, 2, 3, 4, 5, 6, 7, 8|1|2|3|4|5|6|7|8] A 0030:00;"},
        {"a name too long is left out", "when " + std::string(128, 'x') + ",b.exe\nA B\n", "when b.exe\nA->B\n",
         " [b.exe|b.exe] A 0030:00;"},
        {"not a section: another case, a tab, no space", "When x\nwhen\tx\nwhen\nwhenever x\n", "", ""},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        fresh_keymap();
        captured_load result = load_bytes_captured("kbd\n" + r.lines);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.out, r.echo);
        EXPECT_EQ(describe_sections(), r.sections);
    }
}

// A file has room for sixteen sections; the lines of one more are not applied
// anywhere, not even outside sections.
TEST(Sections, ASeventeenthSectionAndItsLinesAreIgnored) {
    std::string text = "kbd\n";
    for (int s = 1; s <= 17; ++s) text += "when p" + std::to_string(s) + ".exe\nA B\n";
    fresh_keymap();
    captured_load result = load_bytes_captured(text + "C D\n");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(max_sections, test_config().section_count);
    EXPECT_EQ("when p16.exe\nA->B\n", result.out.substr(result.out.size() - 18));
    EXPECT_EQ("", describe_table_changes());
    EXPECT_EQ("A 0030:00;", describe_table_changes(test_config().sections[max_sections - 1].keys));
}

TEST(Sections, AProgramIsFoundByItsNameInAnyCaseInTheFirstSectionThatNamesIt) {
    fresh_keymap();
    ASSERT_TRUE(load_bytes_captured("kbd\nwhen Photoshop.exe, Lightroom.exe\nA B\nwhen PHOTOSHOP.EXE, \xc3\x89"
                                    "diteur.exe\n"
                                    "A C\n")
                    .ok);
    // clang-format off
    const struct {
        const char* program;
        int section;
    } rows[] = {
        {"Photoshop.exe", 0}, {"photoshop.exe", 0}, {"LIGHTROOM.EXE", 0}, {"\xc3\x89" "diteur.exe", 1},
        {"\xc3\xa9" "diteur.exe", -1}, {"Photoshop", -1}, {"Photoshop.exe ", -1}, {"", -1},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.program);
        EXPECT_EQ(r.section, section_for_program(test_config(), r.program));
    }
}

}  // namespace
