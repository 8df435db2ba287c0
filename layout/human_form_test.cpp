#include "layout/human_form.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keymap/config.h"

namespace {

struct sequence_case {
    const char* what;
    std::vector<uint16_t> claims;  // user entries claimed first, in order
    std::vector<uint16_t> outputs;
    std::vector<uint16_t> modifiers;
    const char* expected;
};

TEST(HumanForm, Sequences) {
    // clang-format off
    const sequence_case cases[] = {
        {"one key", {}, {0x000E}, {0}, "Backspace"},
        {"shortcut then key", {}, {0x002F, 0x001C}, {0x02, 0}, "Ctrl+V, Enter"},
        {"left modifiers in reading order", {}, {0x001E}, {0x0F}, "Ctrl+Shift+Alt+Win+A"},
        {"right modifiers", {}, {0x001E}, {0xF0}, "RCtrl+RShift+RAlt+RWin+A"},
        {"both hands", {}, {0x001E}, {0x21}, "Shift+RCtrl+A"},
        {"high byte of a mask means nothing (but the mark of a layer switch)", {}, {0x001E}, {0x7F00}, "A"},
        {"a layer switch says its kind", {}, {0xF203}, {modifier_switch}, "Toggle layer"},
        {"ends at the first empty output", {}, {0x0030, 0, 0x002E}, {0, 0, 0}, "B"},
        {"empty first output", {}, {0, 0x0030}, {0x02, 0}, ""},
        {"extended keys keep apart", {}, {0xE035, 0x0035, 0xE01C, 0x001C, 0xE053, 0x0053},
         {0, 0, 0, 0, 0, 0}, "Num/, /, NumEnter, Enter, Delete, Num."},
        {"claimed code with a place", {0xE05B}, {0xE05B}, {0x01}, "Shift+LWin"},
        {"claimed code without a place", {0xE05B, 0x0056}, {0x0056, 0xE05B}, {0, 0}, "IntlBackslash, LWin"},
        {"code no entry holds", {}, {0x00AB, 0x0077}, {0x02, 0}, "Ctrl+#00ab, #0077"},
        {"later names", {}, {0x0001, 0xE06A, 0x0064}, {0x02, 0, 0x10}, "Ctrl+Esc, BrowserBack, RShift+F13"},
        {"claimed code with a later name and no place", {0x0064, 0x0077}, {0x0064, 0x0077}, {0, 0}, "F13, user2"},
        {"names with punctuation", {}, {0x0027, 0x0028, 0x0033}, {0x01, 0, 0}, "Shift+;, ', ,"},
        {"sixteen outputs", {}, std::vector<uint16_t>(16, 0x001E), std::vector<uint16_t>(16, 0),
         "A, A, A, A, A, A, A, A, A, A, A, A, A, A, A, A"},
    };
    // clang-format on
    for (const sequence_case& c : cases) {
        SCOPED_TRACE(c.what);
        static key_table table;
        reset_key_table(&table);
        for (uint16_t code : c.claims) ASSERT_GE(claim_user_slot(&table, code), 0);
        key_entry entry = {};
        for (size_t i = 0; i < c.outputs.size(); ++i) {
            entry.outputs[i] = c.outputs[i];
            entry.modifiers[i] = c.modifiers[i];
        }
        std::string text = "x";
        append_sequence(table, entry, text);
        EXPECT_EQ(text, std::string("x") + c.expected);
    }
}

}  // namespace
