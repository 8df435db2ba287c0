#include "layout/picture.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keymap/config.h"
#include "layout/human_form.h"
#include "layout/load_layout.h"

namespace {

struct loaded {
    bool ok;
    bool named[key_count];
    layout_picture picture;
};

void load(const std::string& text, loaded& out)
{
    testing::internal::CaptureStdout();
    out.ok = load_layout_config_bytes((const uint8_t*)text.data(), text.size(), out.named);
    testing::internal::GetCapturedStdout();
    build_picture(out.named, out.picture);
}

int place_of(const char* label)
{
    for (int p = 0; p < key_place_count; ++p)
        if (std::strcmp(key_places[p].label, label) == 0)
            return p;
    return -1;
}

std::string shown_at(const loaded& l, int place)
{
    int entry = l.picture.entry[place];
    if (entry < 0)
        return "-";
    std::string text = key_table[entry].name;
    text += l.picture.look[place] == look_mapped ? " mapped " : l.picture.look[place] == look_passes ? " passes " : " plain ";
    append_sequence(key_table[entry], text);
    return text;
}

struct place_case {
    const char* lines; // after the hardware id line
    const char* label; // place on the keyboard
    const char* shown; // entry name, look and sequence, or "-" for nothing
};

TEST(Picture, WhatEachPlaceShows)
{
    const place_case cases[] = {
        {"Caps Backspace\n", "Caps", "Caps mapped Backspace"},
        {"F2 C-V,Enter\n", "F2", "F2 mapped Ctrl+V, Enter"},
        {"Caps Backspace\n", "A", "-"},
        {"#e05b Space\n", "LWin", "user1 mapped Space"},
        {"#E05B Space\n#e05c Tab\n", "RWin", "user2 mapped Tab"},
        {"#e05b user1\n", "LWin", "user1 mapped LWin"},
        {"#0001 A-F4\n", "Esc", "user1 mapped Alt+F4"},
        {"#001e X\n", "A", "A mapped X"},
        {"#e11d Space\n", "Pause", "user1 mapped Space"},
        // named, but nothing would be sent in place of the key
        {"A user1\n", "A", "A passes "},
        {"A    \n", "A", "A passes "},
        {"A C-S-B\n", "A", "A passes "},
        {"A ,B\n", "A", "A passes "},
        {"#e05b Nothing\n", "LWin", "user1 passes "},
        {"A B\nA C-S-B\n", "A", "A mapped Ctrl+B"},
        // not named: ignored lines leave the key alone
        {"A\tB\n", "A", "-"},
        {" A B\n", "A", "-"},
        {"Nothing B\n", "B", "-"},
        {"#1e X\n", "A", "-"},
    };
    for (const place_case& c : cases) {
        SCOPED_TRACE(c.lines);
        loaded l;
        load(std::string("HID\\KBD\n") + c.lines, l);
        ASSERT_TRUE(l.ok);
        int p = place_of(c.label);
        ASSERT_GE(p, 0);
        EXPECT_EQ(shown_at(l, p), c.shown);
    }
}

TEST(Picture, OnlyNamedKeysAreInUseAndNoMarksRemain)
{
    loaded l;
    load("HID\\KBD\nCaps Backspace\nF1 Nothing\n", l);
    ASSERT_TRUE(l.ok);
    for (int i = 0; i < key_count; ++i) {
        SCOPED_TRACE(key_table[i].name);
        std::string name = key_table[i].name;
        EXPECT_EQ(l.named[i], name == "Caps" || name == "F1");
        for (uint16_t m : key_table[i].modifiers)
            EXPECT_EQ(m, 0);
    }
    int in_use = 0;
    for (int p = 0; p < key_place_count; ++p)
        if (l.picture.entry[p] >= 0)
            ++in_use;
    EXPECT_EQ(in_use, 2);
    EXPECT_EQ(l.picture.loose_count, 0);
}

TEST(Picture, KeysWithoutAPlace)
{
    struct row {
        const char* lines;
        std::vector<std::string> loose; // entry name, code and sequence
    };
    const row rows[] = {
        {"#0056 Z\n#e05b Tab\n", {"user1 0056 Z"}},
        {"#0000 B\n", {"user1 0000 B"}},
        {"#0056 Nothing\n", {"user1 0056 "}},
        // #0000 finds the first unclaimed entry by its code 0 and leaves it
        // unclaimed; the next new code claims it and inherits its output.
        {"#0056 Z\n#e05b Tab\n#0000 B\n#e06a Nothing\n", {"user1 0056 Z", "user3 e06a B"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.lines);
        loaded l;
        load(std::string("HID\\KBD\n") + r.lines, l);
        ASSERT_TRUE(l.ok);
        std::vector<std::string> loose;
        for (int i = 0; i < l.picture.loose_count; ++i) {
            const key_entry& e = key_table[l.picture.loose[i]];
            char code[8];
            std::snprintf(code, sizeof code, "%04x", (unsigned)e.scan_code);
            std::string text = std::string(e.name) + " " + code + " ";
            append_sequence(e, text);
            loose.push_back(text);
        }
        EXPECT_EQ(loose, r.loose);
    }
}

TEST(Picture, FailedLoadNamesNothing)
{
    loaded l;
    load("   \n\n", l);
    EXPECT_FALSE(l.ok);
    for (int i = 0; i < key_count; ++i)
        EXPECT_FALSE(l.named[i]);
    EXPECT_EQ(l.picture.loose_count, 0);
}

}
