#include "keymap/output_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every set of prefixes written in order reads back to its bits, up to the key name.
TEST(OutputText, EveryPrefixSetReadsBack) {
    const char* const in_order[] = {"S-", "C-", "A-", "W-", "rS-", "rC-", "rA-", "rW-"};
    for (unsigned mask = 0; mask < 256; ++mask) {
        std::string expected;
        for (int i = 0; i < 8; ++i) expected += (mask >> i & 1) ? in_order[i] : "";
        std::string text;
        append_output_token(fresh_key_table(), static_cast<uint16_t>(mask | 0x100), 0x0030, text);
        ASSERT_EQ(text, expected + "B");
        uint16_t bits = 0xFFFF;
        EXPECT_EQ(take_modifier_prefixes(text.c_str(), &bits), static_cast<int>(expected.size())) << text;
        EXPECT_EQ(bits, mask) << text;
    }
}

// A prefix out of order or given again is where the name begins.
TEST(OutputText, PrefixesOnlyOnceAndInOrder) {
    const struct {
        const char* token;
        int taken;
        uint16_t bits;
    } rows[] = {{"C-S-B", 2, 0x02}, {"S-S-B", 2, 0x01}, {"rS-S-B", 3, 0x10}, {"rW-rA-B", 3, 0x80},
                {"S--", 2, 0x01},   {"S-", 2, 0x01},    {"s-B", 0, 0},       {"rs-B", 0, 0}};
    for (const auto& row : rows) {
        uint16_t bits = 0xFFFF;
        EXPECT_EQ(take_modifier_prefixes(row.token, &bits), row.taken) << row.token;
        EXPECT_EQ(bits, row.bits) << row.token;
    }
}

TEST(OutputText, ListEndsAtTheFirstEmptyOutput) {
    key_entry entry = {};
    std::string text;
    append_output_list(fresh_key_table(), entry, text);
    EXPECT_EQ(text, "");
    const uint16_t outputs[] = {0x002F, 0x00AB, 0x001C, 0, 0x0030};
    for (int i = 0; i < 5; ++i) entry.outputs[i] = outputs[i];
    entry.modifiers[0] = mod_left_ctrl | mod_right_ctrl;
    append_output_list(fresh_key_table(), entry, text);
    EXPECT_EQ(text, "C-rC-V,#00ab,Enter");
}

}  // namespace
