#include "layout/key_places.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "keymap/key_table.h"

namespace {

TEST(KeyPlaces, EveryKeyHasOnePlaceWithItsCode) {
    // Keys a configuration cannot name, with their usual codes.
    const std::map<std::string, uint16_t> unnamed = {
        {"Esc", 0x0001},   {"LShift", 0x002A}, {"RShift", 0x0036},  {"LCtrl", 0x001D}, {"RCtrl", 0xE01D},
        {"LAlt", 0x0038},  {"RAlt", 0xE038},   {"LWin", 0xE05B},    {"RWin", 0xE05C},  {"Menu", 0xE05D},
        {"PrtSc", 0xE037}, {"ScrLk", 0x0046},  {"NumLock", 0x0045}, {"Pause", 0xE11D},
    };
    const key_table& table = fresh_key_table();
    int named = 0;
    for (int p = 0; p < key_place_count; ++p) {
        const key_place& k = key_places[p];
        SCOPED_TRACE(k.label);
        EXPECT_EQ(find_place_by_code(k.code), p);
        int entry = find_key_by_name(&table, k.label);
        EXPECT_EQ(k.named, entry >= 0 && entry < first_user_key);
        if (k.named) {
            ++named;
            EXPECT_EQ(k.code, table.entries[entry].scan_code);
        } else {
            auto known = unnamed.find(k.label);
            ASSERT_NE(known, unnamed.end());
            EXPECT_EQ(k.code, known->second);
            EXPECT_EQ(find_key_by_code(&table, k.code), -1);
        }
    }
    // With the codes apart, every named key has exactly one place.
    EXPECT_EQ(named, first_user_key);
    EXPECT_EQ(find_place_by_code(0), -1);
    EXPECT_EQ(find_place_by_code(0x0056), -1);
}

TEST(KeyPlaces, KeysDoNotOverlapAndStayOnTheBoard) {
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
        }
    }
}

}  // namespace
