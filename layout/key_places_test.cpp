#include "layout/key_places.h"

#include <cstring>

#include <gtest/gtest.h>

#include "keymap/key_table.h"

namespace {

int place_by_label(const char* label)
{
    for (int p = 0; p < key_place_count; ++p)
        if (std::strcmp(key_places[p].label, label) == 0)
            return p;
    return -1;
}

TEST(KeyPlaces, EveryNamedKeyHasOnePlaceWithItsCode)
{
    reset_key_table();
    for (int i = 0; i < first_user_key; ++i) {
        SCOPED_TRACE(key_table[i].name);
        int p = place_by_label(key_table[i].name);
        ASSERT_GE(p, 0);
        EXPECT_EQ(key_places[p].code, key_table[i].scan_code);
        EXPECT_TRUE(key_places[p].named);
        EXPECT_EQ(find_place_by_code(key_table[i].scan_code), p);
    }
}

TEST(KeyPlaces, KeysWithoutANameCarryTheirUsualCodes)
{
    struct row {
        const char* label;
        uint16_t code;
    };
    const row rows[] = {
        {"Esc", 0x0001},    {"LShift", 0x002A}, {"RShift", 0x0036}, {"LCtrl", 0x001D},
        {"RCtrl", 0xE01D},  {"LAlt", 0x0038},   {"RAlt", 0xE038},   {"LWin", 0xE05B},
        {"RWin", 0xE05C},   {"Menu", 0xE05D},   {"PrtSc", 0xE037},  {"ScrLk", 0x0046},
        {"NumLock", 0x0045}, {"Pause", 0xE11D},
    };
    reset_key_table();
    int unnamed = 0;
    for (const key_place& k : key_places)
        if (!k.named)
            ++unnamed;
    EXPECT_EQ(unnamed, (int)(sizeof rows / sizeof rows[0]));
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        int p = place_by_label(r.label);
        ASSERT_GE(p, 0);
        EXPECT_FALSE(key_places[p].named);
        EXPECT_EQ(key_places[p].code, r.code);
        EXPECT_EQ(find_key_by_code(r.code), -1);
        EXPECT_EQ(find_key_by_name(r.label), -1);
    }
}

TEST(KeyPlaces, KeysDoNotOverlapAndStayOnTheBoard)
{
    for (int a = 0; a < key_place_count; ++a) {
        const key_place& k = key_places[a];
        SCOPED_TRACE(k.label);
        EXPECT_GE(k.x, 0);
        EXPECT_GE(k.y, 0);
        EXPECT_LE(k.x + k.w, keyboard_width_q);
        EXPECT_LE(k.y + k.h, keyboard_height_q);
        for (int b = a + 1; b < key_place_count; ++b) {
            const key_place& o = key_places[b];
            bool apart = k.x + k.w <= o.x || o.x + o.w <= k.x || k.y + k.h <= o.y || o.y + o.h <= k.y;
            EXPECT_TRUE(apart) << "overlaps " << o.label;
            EXPECT_NE(k.code, o.code) << "same code as " << o.label;
        }
    }
}

TEST(KeyPlaces, CodeZeroHasNoPlace)
{
    EXPECT_EQ(find_place_by_code(0), -1);
    EXPECT_EQ(find_place_by_code(0x0056), -1);
}

}
