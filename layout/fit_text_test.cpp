#include "layout/fit_text.h"

#include <gtest/gtest.h>

namespace {

struct fit_case {
    const char* text;
    int per_line;
    int max_lines;
    std::vector<std::string> lines;
    bool cut;
};

TEST(FitText, Lines) {
    // clang-format off
    const fit_case cases[] = {
        {"", 7, 3, {}, false},
        {"Enter", 7, 3, {"Enter"}, false},
        {"Ctrl+V, Enter", 7, 3, {"Ctrl+V,", "Enter"}, false},
        {"A, B, C", 7, 3, {"A, B, C"}, false},
        {"A, B, C, D", 7, 3, {"A, B,", "C, D"}, false},
        {"  spaced   out  ", 7, 3, {"spaced", "out"}, false},
        {"Backspace", 7, 3, {"Backspa", "ce"}, false},
        {"x Ctrl+Shift+Alt+Win+A", 7, 0, {"x Ctrl+", "Shift+", "Alt+", "Win+A"}, false},
        {"RCtrl+RShift+RAlt+RWin+A", 7, 3, {"RCtrl+", "RShift+", "RAlt+\xE2\x80\xA6"}, true},
        {"Shift++, A", 7, 3, {"Shift++", ", A"}, false},
        {"A, Ctrl+Backspace", 7, 0, {"A,", "Ctrl+", "Backspa", "ce"}, false},
        {"A, B, C, D, E, F, G, H", 4, 2, {"A,", "B,\xE2\x80\xA6"}, true},
        {"Ctrl+V, Enter, Tab", 7, 2, {"Ctrl+V,", "Enter,\xE2\x80\xA6"}, true},
        {"Backspace, Backspace", 7, 1, {"Backsp\xE2\x80\xA6"}, true},
        {"\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9", 5, 3,
         {"\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9"}, false},
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 3, 1, {"\xC3\xA9\xC3\xA9\xE2\x80\xA6"}, true},
        {"abcdef", 3, 2, {"abc", "def"}, false},
        {"Num+ Num+", 9, 0, {"Num+ Num+"}, false},
    };
    // clang-format on
    for (const fit_case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> lines = {"stale"};
        EXPECT_EQ(fit_text(c.text, c.per_line, c.max_lines, lines), c.cut);
        EXPECT_EQ(lines, c.lines);
        for (const std::string& line : lines) EXPECT_LE(text_length(line), c.per_line) << line;
    }
}

}  // namespace
