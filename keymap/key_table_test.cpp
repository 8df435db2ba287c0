#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "keymap/key_table.h"

namespace {

// The table the tests work on.
key_table table;

TEST(KeyTable, StartsWithEveryKeyFoundByItsNameAndCode) {
    reset_key_table(&table);
    for (int i = 0; i < key_count; ++i) {
        SCOPED_TRACE(i);
        const key_entry& entry = table.entries[i];
        EXPECT_EQ(i, find_key_by_name(&table, entry.name));
        if (!is_user_key(i)) {
            EXPECT_EQ(i, find_key_by_code(&table, entry.scan_code));
            EXPECT_EQ(i < first_user_key ? i : -1, find_key_for_code_line(&table, entry.scan_code));
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
    reset_key_table(&table);
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
        {"Esc", 0x0001, 100},   {"RCtrl", 0xE01D, 104},  {"LWin", 0xE05B, 107}, {"NumLock", 0x0045, 112},
        {"F13", 0x0064, 113},   {"F24", 0x0076, 124},    {"Mute", 0xE020, 131},  {"Wake", 0xE063, 151},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.index, find_key_by_name(&table, row.name));
        EXPECT_EQ(row.index, find_key_by_code(&table, row.code));
    }
    for (const char* text : {"space", "SPACE", "a", "user11", "", "Num", "Caps ", "esc", "F25", "Pause"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(-1, find_key_by_name(&table, text));
    }
    for (uint16_t code : {0x0077, 0xE11D, 0xE045, 0x0145}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(-1, find_key_by_code(&table, code));
    }
}

TEST(KeyTable, UserEntriesAreClaimedInOrderUntilResetFreesThem) {
    reset_key_table(&table);
    for (int i = 0; i < 10; ++i) {
        uint16_t code = static_cast<uint16_t>(0xE05B + i);
        EXPECT_EQ(first_user_key + i, claim_user_slot(&table, code));
        EXPECT_EQ(first_user_key + i, find_key_by_code(&table, code));
    }
    key_entry before[key_count];
    memcpy(before, table.entries, sizeof before);
    EXPECT_EQ(-1, claim_user_slot(&table, 0x0101));
    EXPECT_EQ(0, memcmp(before, table.entries, sizeof before));
    EXPECT_EQ(-1, find_key_by_code(&table, 0));

    table.entries[0].outputs[3] = 0x0030;
    table.entries[0].modifiers[15] = 0x80;
    table.entries[5].scan_code = 0x1234;
    strcpy(table.entries[41].name, "Spacebar");
    reset_key_table(&table);
    EXPECT_EQ(0, table.entries[0].outputs[3]);
    EXPECT_EQ(0, table.entries[0].modifiers[15]);
    EXPECT_EQ(0x0021, table.entries[5].scan_code);
    EXPECT_STREQ("Space", table.entries[41].name);
    EXPECT_EQ(first_user_key, find_key_by_code(&table, 0));
}

// A '#' line for a key that has a later name claims a user entry, as it did
// before that name existed; strokes then find the user entry first.
TEST(KeyTable, AClaimedUserEntryStandsBeforeTheLaterNameOfItsKey) {
    reset_key_table(&table);
    const int esc = find_key_by_name(&table, "Esc");
    EXPECT_EQ(esc, find_key_by_code(&table, 0x0001));
    EXPECT_EQ(-1, find_key_for_code_line(&table, 0x0001));
    EXPECT_EQ(first_user_key, claim_user_slot(&table, 0x0001));
    EXPECT_EQ(first_user_key, find_key_by_code(&table, 0x0001));
    EXPECT_EQ(first_user_key, find_key_for_code_line(&table, 0x0001));
    EXPECT_EQ(esc, find_key_by_name(&table, "Esc"));
    EXPECT_EQ(0x0001, table.entries[esc].scan_code);
}

// Every configuration file has a table of its own: claims and outputs in one
// leave another alone, and the fresh table is never written.
TEST(KeyTable, TablesAreIndependent) {
    static key_table second;
    reset_key_table(&table);
    reset_key_table(&second);
    EXPECT_EQ(first_user_key, claim_user_slot(&table, 0xE0AB));
    table.entries[0].outputs[0] = 0x0030;
    EXPECT_EQ(first_user_key, claim_user_slot(&second, 0x0001));
    EXPECT_EQ(-1, find_key_by_code(&second, 0xE0AB));
    EXPECT_EQ(0, second.entries[0].outputs[0]);
    EXPECT_EQ(-1, find_key_by_code(&fresh_key_table(), 0xE0AB));
    EXPECT_EQ(first_user_key, find_key_by_code(&fresh_key_table(), 0));
}

// The README's table of key names, row by row: the text of each cell of the
// rows after the header "| Name | Code |", without the code marks around it.
std::vector<std::vector<std::string>> readme_key_rows() {
    std::ifstream readme(std::string(PADMAP_SOURCE_DIR) + "/README.md");
    std::vector<std::vector<std::string>> rows;
    std::string line;
    bool in_table = false;
    while (std::getline(readme, line)) {
        if (line.rfind("| Name | Code |", 0) == 0) {
            in_table = true;
            std::getline(readme, line);  // the line under the header
            continue;
        }
        if (!in_table) continue;
        if (line.empty() || line[0] != '|') break;
        std::vector<std::string> cells;
        std::stringstream cut(line.substr(1));
        std::string cell;
        while (std::getline(cut, cell, '|')) {
            cell = cell.substr(1, cell.size() - 2);
            if (cell.size() >= 6 && cell.compare(0, 3, "`` ") == 0) {
                cell = cell.substr(3, cell.size() - 6);
            } else if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') {
                cell = cell.substr(1, cell.size() - 2);
            }
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

// The README lists every name a configuration can use, once, with its code,
// and no other.
TEST(KeyTable, TheReadmeListsEveryNameWithItsCode) {
    std::map<std::string, std::string> listed;
    for (const std::vector<std::string>& row : readme_key_rows()) {
        ASSERT_GE(row.size(), 2u);
        SCOPED_TRACE(row[0]);
        EXPECT_TRUE(listed.emplace(row[0], row[1]).second) << "listed twice";
    }
    const key_table& fresh = fresh_key_table();
    for (int i = 0; i < key_count; ++i) {
        if (is_user_key(i)) continue;
        const key_entry& entry = fresh.entries[i];
        SCOPED_TRACE(entry.name);
        char code[8];
        std::snprintf(code, sizeof code, "%04x", static_cast<unsigned>(entry.scan_code));
        auto row = listed.find(entry.name);
        if (row == listed.end()) {
            ADD_FAILURE() << "not in the README";
            continue;
        }
        EXPECT_EQ(row->second, code);
        listed.erase(row);
    }
    for (const auto& extra : listed) ADD_FAILURE() << "the README lists " << extra.first << ", which is no key name";
}

}  // namespace
