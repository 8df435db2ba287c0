#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "keymap/key_table.h"

namespace {

struct key_row {
    int index;
    const char* name;
    uint16_t code;
};

// Rows from every column of the table and every kind of key.
const key_row sample_keys[] = {
    {0, "A", 0x001E},       {25, "Z", 0x002C},      {26, "0", 0x000B},       {35, "9", 0x000A},
    {36, "`", 0x0029},      {39, "\\", 0x002B},     {40, "Backspace", 0x000E}, {43, "Caps", 0x003A},
    {44, "Enter", 0x001C},  {55, "F11", 0x0057},    {57, "[", 0x001A},       {58, "Insert", 0xE052},
    {63, "PageDown", 0xE051}, {68, "Num/", 0xE035}, {69, "Num*", 0x0037},    {72, "NumEnter", 0xE01C},
    {73, "Num.", 0x0053},   {74, "Num0", 0x0052},   {84, "]", 0x001B},       {86, "'", 0x0028},
    {89, "/", 0x0035},      {90, "user1", 0},       {99, "user10", 0},
};

TEST(KeyTable, StartsWithItsFixedKeys)
{
    reset_key_table();
    for (const key_row& row : sample_keys) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(row.name, key_table[row.index].name);
        EXPECT_EQ(row.code, key_table[row.index].scan_code);
    }
    std::set<uint16_t> codes;
    for (int i = 0; i < key_count; i++) {
        SCOPED_TRACE(i);
        for (int k = 0; k < key_outputs; k++) {
            EXPECT_EQ(0, key_table[i].outputs[k]);
            EXPECT_EQ(0, key_table[i].modifiers[k]);
        }
        if (i < first_user_key) {
            EXPECT_NE(0, key_table[i].scan_code);
            codes.insert(key_table[i].scan_code);
        } else {
            EXPECT_EQ("user" + std::to_string(i - first_user_key + 1), key_table[i].name);
            EXPECT_EQ(0, key_table[i].scan_code);
        }
    }
    EXPECT_EQ(size_t(first_user_key), codes.size());
}

TEST(KeyTable, FindByName)
{
    reset_key_table();
    const struct {
        const char* text;
        int index;
    } rows[] = {
        {"A", 0}, {"Space", 41}, {"space", -1}, {"SPACE", -1}, {"a", -1}, {"user1", 90}, {"user10", 99},
        {"user11", -1}, {"", -1}, {"Num/", 68}, {"Num", -1}, {"Caps ", -1}, {"-", 37}, {"=", 38},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.index, find_key_by_name(row.text));
    }
}

TEST(KeyTable, FindByCodeKeepsE0PairsApart)
{
    reset_key_table();
    const struct {
        uint16_t code;
        int index;
    } rows[] = {
        {0xE035, 68}, {0x0035, 89}, {0xE01C, 72}, {0x001C, 44}, {0xE053, 61}, {0x0053, 73},
        {0xE052, 58}, {0x0052, 74}, {0x0000, 90}, {0x0001, -1}, {0xE05B, -1}, {0x001E, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(row.index, find_key_by_code(row.code));
    }
}

TEST(KeyTable, UserEntriesAreClaimedInOrderUntilNoneIsLeft)
{
    reset_key_table();
    for (int i = 0; i < 10; i++) {
        uint16_t code = static_cast<uint16_t>(0xE05B + i);
        EXPECT_EQ(first_user_key + i, claim_user_slot(code));
        EXPECT_EQ(first_user_key + i, find_key_by_code(code));
    }
    EXPECT_EQ(-1, find_key_by_code(0));

    key_entry before[key_count];
    memcpy(before, key_table, sizeof before);
    EXPECT_EQ(-1, claim_user_slot(0x0101));
    EXPECT_EQ(0, memcmp(before, key_table, sizeof before));
    EXPECT_EQ(-1, find_key_by_code(0x0101));
}

TEST(KeyTable, ResetUndoesEveryChange)
{
    reset_key_table();
    claim_user_slot(0xE05B);
    key_table[0].outputs[3] = 0x0030;
    key_table[0].modifiers[15] = 0x80;
    key_table[5].scan_code = 0x1234;
    strcpy(key_table[41].name, "Spacebar");
    reset_key_table();
    EXPECT_EQ(0, key_table[0].outputs[3]);
    EXPECT_EQ(0, key_table[0].modifiers[15]);
    EXPECT_EQ(0x0021, key_table[5].scan_code);
    EXPECT_STREQ("Space", key_table[41].name);
    EXPECT_EQ(90, find_key_by_code(0));
    EXPECT_EQ(-1, find_key_by_code(0xE05B));
}

} // namespace
