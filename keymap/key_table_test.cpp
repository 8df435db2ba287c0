#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "keymap/key_table.h"

namespace {

TEST(KeyTable, StartsWithEveryKeyFoundByItsNameAndCode) {
    reset_key_table();
    for (int i = 0; i < key_count; ++i) {
        SCOPED_TRACE(i);
        const key_entry& entry = key_table[i];
        EXPECT_EQ(i, find_key_by_name(entry.name));
        if (i < first_user_key) {
            EXPECT_EQ(i, find_key_by_code(entry.scan_code));
        } else {
            EXPECT_EQ("user" + std::to_string(i - first_user_key + 1), entry.name);
            EXPECT_EQ(0, entry.scan_code);
        }
        for (int k = 0; k < key_outputs; ++k) {
            EXPECT_EQ(0, entry.outputs[k]);
            EXPECT_EQ(0, entry.modifiers[k]);
        }
    }
}

TEST(KeyTable, FixedPlacesAndExtendedPairs) {
    reset_key_table();
    // clang-format off
    const struct {
        const char* name;
        uint16_t code;
        int index;
    } rows[] = {
        {"A", 0x001E, 0},       {"Space", 0x0039, 41},   {"-", 0x000C, 37},     {"=", 0x000D, 38},
        {"Insert", 0xE052, 58}, {"Num0", 0x0052, 74},    {"Delete", 0xE053, 61}, {"Num.", 0x0053, 73},
        {"NumEnter", 0xE01C, 72}, {"Enter", 0x001C, 44}, {"Num/", 0xE035, 68},  {"/", 0x0035, 89},
        {"user1", 0x0000, 90},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.index, find_key_by_name(row.name));
        EXPECT_EQ(row.index, find_key_by_code(row.code));
    }
    for (const char* text : {"space", "SPACE", "a", "user11", "", "Num", "Caps "}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(-1, find_key_by_name(text));
    }
    EXPECT_EQ(-1, find_key_by_code(0x0001));
    EXPECT_EQ(-1, find_key_by_code(0xE05B));
}

TEST(KeyTable, UserEntriesAreClaimedInOrderUntilResetFreesThem) {
    reset_key_table();
    for (int i = 0; i < 10; ++i) {
        uint16_t code = static_cast<uint16_t>(0xE05B + i);
        EXPECT_EQ(first_user_key + i, claim_user_slot(code));
        EXPECT_EQ(first_user_key + i, find_key_by_code(code));
    }
    key_entry before[key_count];
    memcpy(before, key_table, sizeof before);
    EXPECT_EQ(-1, claim_user_slot(0x0101));
    EXPECT_EQ(0, memcmp(before, key_table, sizeof before));
    EXPECT_EQ(-1, find_key_by_code(0));

    key_table[0].outputs[3] = 0x0030;
    key_table[0].modifiers[15] = 0x80;
    key_table[5].scan_code = 0x1234;
    strcpy(key_table[41].name, "Spacebar");
    reset_key_table();
    EXPECT_EQ(0, key_table[0].outputs[3]);
    EXPECT_EQ(0, key_table[0].modifiers[15]);
    EXPECT_EQ(0x0021, key_table[5].scan_code);
    EXPECT_STREQ("Space", key_table[41].name);
    EXPECT_EQ(first_user_key, find_key_by_code(0));
}

}  // namespace
