#include "layout/picture.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "layout/human_form.h"
#include "layout/load_layout.h"
#include "layout/svg_layout.h"

namespace {

// The configuration the tests load.
config loaded;

// "name[ code][ sequence]"
std::string entry_text(int entry, bool with_code) {
    const key_entry& e = loaded.keys.entries[entry];
    char code[8];
    std::snprintf(code, sizeof code, " %04x", (unsigned)e.scan_code);
    std::string text = std::string(e.name) + (with_code ? code : "");
    std::string sequence;
    append_sequence(loaded.keys, e, sequence);
    return sequence.empty() ? text : text + " " + sequence;
}

// Loads the configuration as padmap-layout does and describes the picture:
// every place in use as "Label(look): entry;" in keyboard order, then every
// loose entry as "loose: entry;".
layout_names names;

std::string picture_of(const std::string& text, bool& ok, bool named[key_count]) {
    testing::internal::CaptureStdout();
    ok = load_layout_config_bytes((const uint8_t*)text.data(), text.size(), &loaded, &names);
    std::copy(names.named[0], names.named[0] + key_count, named);
    testing::internal::GetCapturedStdout();
    layout_picture picture;
    build_picture(loaded.keys, named, picture);
    const char* looks[] = {"plain", "mapped", "passes"};
    std::string shown;
    for (int p = 0; p < key_place_count; ++p) {
        if (picture.entry[p] >= 0)
            shown += std::string(key_places[p].label) + "(" + looks[picture.look[p]] +
                     "): " + entry_text(picture.entry[p], false) + ";";
    }
    for (int i = 0; i < picture.loose_count; ++i) shown += "loose: " + entry_text(picture.loose[i], true) + ";";
    return shown;
}

TEST(Picture, WhatTheKeyboardShows) {
    // clang-format off
    const struct {
        const char* lines; // after the hardware id line
        const char* shown;
    } cases[] = {
        {"Caps Backspace\n", "Caps(mapped): Caps Backspace;"},
        {"F2 C-V,Enter\n", "F2(mapped): F2 Ctrl+V, Enter;"},
        {"#e05b Space\n", "LWin(mapped): user1 Space;"},
        {"#E05B Space\n#e05c Tab\n", "LWin(mapped): user1 Space;RWin(mapped): user2 Tab;"},
        {"#e05b user1\n", "LWin(mapped): user1 LWin;"},
        {"#0001 A-F4\n", "Esc(mapped): user1 Alt+F4;"},
        {"#001e X\n", "A(mapped): A X;"},
        {"#e11d Space\n", "Pause(mapped): user1 Space;"},
        {"Esc A-F4\nF13 C-C\nLShift ,\n", "Esc(mapped): Esc Alt+F4;LShift(passes): LShift;loose: F13 0064 Ctrl+C;"},
        // a user entry claimed for a key with a later name stands in its place
        {"#0001 A-F4\nEsc Tab\n", "Esc(mapped): user1 Alt+F4;"},
        {"Esc Tab\n#0001 A-F4\n", "Esc(mapped): user1 Alt+F4;"},
        // named, but nothing would be sent in place of the key
        {"A user1\nB    \nC C-S-B\nD ,B\n", "A(passes): A;D(passes): D;C(passes): C;B(passes): B;"},
        {"#e05b Nothing\n", "LWin(passes): user1;"},
        {"A B\nA C-S-B\n", "A(mapped): A Ctrl+B;"},
        {"Caps Backspace\nF1 Nothing\n", "F1(passes): F1;Caps(mapped): Caps Backspace;"},
        // not named: ignored lines leave the key alone
        {"A\tB\n A B\nNothing B\n#1e X\n", ""},
        // keys without a place on the keyboard
        {"#0056 Z\n#e05b Tab\n", "LWin(mapped): user2 Tab;loose: user1 0056 Z;"},
        {"#0000 B\n", "loose: user1 0000 B;"},
        {"#0056 Nothing\n", "loose: user1 0056;"},
        // #0000 finds the first unclaimed entry by its code 0 and leaves it
        // unclaimed; the next new code claims it and inherits its output.
        {"#0056 Z\n#e05b Tab\n#0000 B\n#e06a Nothing\n",
         "LWin(mapped): user2 Tab;loose: user1 0056 Z;loose: user3 e06a B;"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        bool ok, named[key_count];
        EXPECT_EQ(picture_of(std::string("HID\\KBD\n") + c.lines, ok, named), c.shown);
        EXPECT_TRUE(ok);
    }
}

TEST(Picture, FailedLoadNamesNothing) {
    bool ok, named[key_count];
    EXPECT_EQ(picture_of("   \n\n", ok, named), "");
    EXPECT_FALSE(ok);
    for (int i = 0; i < key_count; ++i) EXPECT_FALSE(named[i]);
}

// A file with sections draws the layout everywhere else, then what each
// section makes of it: its outputs where it gives a key a first output,
// the others' elsewhere; a key a section names but leaves empty shows as
// the layout outside sections has it.
TEST(Picture, EachSectionHasAKeyboardOfItsOwn) {
    const std::string text =
        "HID\\KBD\nF1 C-C\nF2 C-V\nwhen Premiere Pro.exe, Resolve.exe\nF1 C-K\nF3 user1\n#e05b Tab\n"
        "when photoshop.exe\nF2 ,B\n";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(load_layout_config_bytes((const uint8_t*)text.data(), text.size(), &loaded, &names));
    testing::internal::GetCapturedStdout();
    std::vector<layout_view> views = layout_views(loaded, names.named);
    ASSERT_EQ(views.size(), 3u);
    const char* const looks[] = {"plain", "mapped", "passes"};
    // clang-format off
    const struct {
        const char* heading;
        const char* shown;
    } rows[] = {
        {"everywhere else", "F1(mapped): F1 Ctrl+C;F2(mapped): F2 Ctrl+V;"},
        {"when Premiere Pro.exe, Resolve.exe", "F1(mapped): F1 Ctrl+K;F2(mapped): F2 Ctrl+V;F3(passes): F3;LWin(mapped): user1 Tab;"},
        {"when photoshop.exe", "F1(mapped): F1 Ctrl+C;F2(mapped): F2 Ctrl+V;"},
    };
    // clang-format on
    for (size_t v = 0; v < views.size(); ++v) {
        SCOPED_TRACE(rows[v].heading);
        EXPECT_EQ(views[v].heading, rows[v].heading);
        layout_picture picture;
        build_picture(views[v].table, views[v].named, picture);
        std::string shown;
        for (int p = 0; p < key_place_count; ++p) {
            if (picture.entry[p] < 0) continue;
            std::string sequence;
            append_sequence(views[v].table, views[v].table.entries[picture.entry[p]], sequence);
            shown += std::string(key_places[p].label) + "(" + looks[picture.look[p]] +
                     "): " + views[v].table.entries[picture.entry[p]].name + (sequence.empty() ? "" : " " + sequence) +
                     ";";
        }
        EXPECT_EQ(shown, rows[v].shown);
    }
    std::string svg;
    draw_layouts(views, "HID\\KBD", "pad.cfg", svg);
    for (const auto& r : rows) EXPECT_NE(svg.find(std::string(">") + r.heading + "</text>"), std::string::npos);
    // A file without sections is drawn as one keyboard, with no heading.
    EXPECT_EQ(layout_views(config{}, names.named).size(), 1u);
}

}  // namespace

namespace {

// One keyboard everywhere else, one a section, one a layer; a key that does
// something when held is marked with its hold; the picture names switches.
TEST(Picture, EachLayerIsAKeyboardAndHoldsShowOnTheirKeys) {
    const std::string text =
        "PAD\nhold Caps LCtrl\nCaps Esc\nF12 toggle(nav)\nwhen a.exe\nF1 B\nlayer nav\nF1 Left\nhold F2 C-C\n";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(load_layout_config_bytes((const uint8_t*)text.data(), text.size(), &loaded, &names));
    testing::internal::GetCapturedStdout();
    std::vector<layout_view> views = layout_views(loaded, names.named);
    ASSERT_EQ(3u, views.size());
    EXPECT_EQ("everywhere else", views[0].heading);
    EXPECT_EQ("when a.exe", views[1].heading);
    EXPECT_EQ("layer nav", views[2].heading);
    const int caps = find_key_by_name(&loaded.keys, "Caps"), f1 = find_key_by_name(&loaded.keys, "F1");
    const int f2 = find_key_by_name(&loaded.keys, "F2");
    for (const layout_view& view : views) EXPECT_TRUE(view.has_hold[caps]) << view.heading;
    EXPECT_FALSE(views[0].has_hold[f2]);
    EXPECT_TRUE(views[2].has_hold[f2]);
    EXPECT_EQ(0x4B, views[2].table.entries[f1].outputs[0] & 0xFF);
    std::string svg;
    draw_layouts(views, "PAD", "pad.cfg", svg);
    // The text of a key is broken over its lines.
    for (const char* said : {">Esc / hold:<", ">toggle(<", ">nav)<", ">itself<", ">/ hold:<", ">Ctrl+C<"}) {
        EXPECT_NE(std::string::npos, svg.find(said)) << said;
    }
}

}  // namespace
