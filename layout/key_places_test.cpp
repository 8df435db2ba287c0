#include "layout/key_places.h"

#include <string>

#include <gtest/gtest.h>

#include "keymap/key_table.h"

namespace {

TEST(KeyPlaces, EveryKeyHasOnePlaceWithItsCode) {
    const key_table& table = fresh_key_table();
    int named = 0;
    for (int p = 0; p < key_place_count; ++p) {
        const key_place& k = key_places[p];
        SCOPED_TRACE(k.label);
        EXPECT_EQ(find_place_by_code(k.code), p);
        int entry = find_key_by_name(&table, k.label);
        EXPECT_EQ(k.named, entry >= 0 && !is_user_key(entry));
        if (k.named) {
            ++named;
            EXPECT_EQ(k.code, table.entries[entry].scan_code);
        } else {
            // Only Pause has no name: it sends E1 1D 45.
            EXPECT_STREQ(k.label, "Pause");
            EXPECT_EQ(k.code, 0xE11D);
            EXPECT_EQ(find_key_by_code(&table, k.code), -1);
        }
    }
    EXPECT_EQ(named, key_place_count - 1);
    // Every key of the first part of the table is on the keyboard; of the
    // later names, the keys of a full-size keyboard are.
    for (int i = 0; i < key_count; ++i) {
        if (is_user_key(i)) continue;
        const key_entry& entry = table.entries[i];
        SCOPED_TRACE(entry.name);
        int place = find_place_by_code(entry.scan_code);
        if (i < first_user_key) {
            EXPECT_GE(place, 0);
        }
        if (place >= 0) {
            EXPECT_STREQ(key_places[place].label, entry.name);
        }
    }
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
