#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keymap/text.h"

namespace {

template <typename From, typename To>
struct conversion_case {
    const char* what;
    From text;
    size_t cap;
    To expected;
};

// Converts into a buffer of cap units followed by guard units that must stay
// untouched.
template <typename From, typename To, typename Convert>
void expect_conversions(const std::vector<conversion_case<From, To>>& cases, Convert convert) {
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        To out(row.cap + 4, 0x7F);
        size_t written = convert(row.text.c_str(), &out[0], row.cap);
        EXPECT_EQ(row.expected.size(), written);
        EXPECT_EQ(row.expected, To(out.c_str()));
        EXPECT_EQ(0x7F, out[row.cap]) << "wrote past the capacity";
    }
}

TEST(Utf16ToUtf8, ConvertsAndStopsBeforeWhatDoesNotFit) {
    // clang-format off
    expect_conversions<std::u16string, std::string>(
        {
            {"ASCII", u"HID\\VID_046D", 64, "HID\\VID_046D"},
            {"two and three bytes", u"\u00E9\u20AC", 64, "\xC3\xA9\xE2\x82\xAC"},
            {"surrogate pair", u"a\U0001F600b", 64, "a\xF0\x9F\x98\x80" "b"},
            {"lone high surrogate", u"a\xD800" "b", 64, "a\xEF\xBF\xBD" "b"},
            {"lone low surrogate", u"a\xDC00", 64, "a\xEF\xBF\xBD"},
            {"high surrogate at the end", u"a\xD83D", 64, "a\xEF\xBF\xBD"},
            {"two high surrogates", u"\xD800\xD800\xDC00", 64, "\xEF\xBF\xBD\xF0\x90\x80\x80"},
            {"empty", u"", 1, ""},
            {"cap leaves room for the NUL", u"abc", 3, "ab"},
            {"no half of a character", u"a\u20AC", 4, "a"},
            {"no half of a pair", u"a\U0001F600", 5, "a"},
            {"exact fit", u"a\U0001F600", 6, "a\xF0\x9F\x98\x80"},
        },
        utf16_to_utf8);
    // clang-format on
}

TEST(Utf8ToUtf16, ConvertsAndReplacesIllFormedBytes) {
    // clang-format off
    expect_conversions<std::string, std::u16string>(
        {
            {"ASCII", "kbd", 16, u"kbd"},
            {"BMP and beyond", "\xC3\xA9\xF0\x9F\x98\x80", 16, u"\u00E9\U0001F600"},
            {"stray continuation", "a\x80" "b", 16, u"a\uFFFDb"},
            {"truncated three-byte", "a\xE2\x82" "b", 16, u"a\uFFFDb"},
            {"truncated at the end", "a\xF0\x9F\x98", 16, u"a\uFFFD"},
            {"overlong two-byte", "\xC0\xAF", 16, u"\uFFFD\uFFFD"},
            {"overlong three-byte", "\xE0\x80\xAF", 16, u"\uFFFD\uFFFD\uFFFD"},
            {"encoded surrogate", "\xED\xA0\x80", 16, u"\uFFFD\uFFFD\uFFFD"},
            {"above U+10FFFF", "\xF4\x90\x80\x80", 16, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
            {"lead bytes F5 and FF", "\xF5\xFF", 16, u"\uFFFD\uFFFD"},
            {"lead byte breaks a sequence", "\xE2\xC3\xA9", 16, u"\uFFFD\u00E9"},
            {"largest code point", "\xF4\x8F\xBF\xBF", 16, u"\U0010FFFF"},
            {"cap leaves room for the NUL", "abc", 3, u"ab"},
            {"no half of a pair", "a\xF0\x9F\x98\x80", 2, u"a"},
            {"pair fits exactly", "a\xF0\x9F\x98\x80", 4, u"a\U0001F600"},
        },
        utf8_to_utf16);
    // clang-format on
}

// Both mains hand padmap the same UTF-16 arguments, whatever their width.
TEST(ProgramArgs, FromUtf8AndFromWideGiveTheSameUtf16) {
    const char* utf8[] = {"padmap", "cl\xC3\xA9 \xF0\x9F\x98\x80.cfg", "", "--check"};
    const wchar_t* wide[] = {L"padmap", L"cl\u00E9 \U0001F600.cfg", L"", L"--check"};
    const std::u16string expected[] = {u"padmap", u"cl\u00E9 \U0001F600.cfg", u"", u"--check"};
    const utf16_args from_utf8 = args_from_utf8(4, utf8);
    const utf16_args from_wide = args_from_wide(4, wide);
    for (const utf16_args* args : {&from_utf8, &from_wide}) {
        ASSERT_EQ(args->argv.size(), 5u);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(std::u16string(args->argv[i]), expected[i]) << i;
        EXPECT_EQ(args->argv[4], nullptr);
    }
}

}  // namespace
