#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keymap/config.h"
#include "tests/support/keymap_helpers.h"

namespace {

const std::string utf8_mark = "\xEF\xBB\xBF";
const std::string utf16le_mark = "\xFF\xFE";
const std::string utf16be_mark = "\xFE\xFF";

TEST(ConfigEncoding, DecodesEachFormOfText) {
    const std::string fail = no_id_message;
    expect_id_cases({
        {"UTF-8 without a mark", "kb\xC3\xA9\nA B\n", true, u"kb\u00E9", "A->B\n"},
        {"UTF-8 with a mark", utf8_mark + "kb\xC3\xA9\nA B\n", true, u"kb\u00E9", "A->B\n"},
        {"UTF-16LE with a mark", utf16le_mark + utf16_bytes(u"kb\u00E9\nA B\n"), true, u"kb\u00E9", "A->B\n"},
        {"UTF-16LE without a mark", utf16_bytes(u"kb\u00E9\nA B\n"), true, u"kb\u00E9", "A->B\n"},
        {"UTF-16BE with a mark", utf16be_mark + utf16_bytes(u"kb\u00E9\nA B\n", true), true, u"kb\u00E9", "A->B\n"},
        {"one zero byte at the end makes it UTF-16LE", std::string("hw\nA B\n\0", 8), true, u"\u7768\u410A\u4220", ""},
        {"a mark stops the zero-byte rule", utf8_mark + std::string("hw\nA B\n\0", 8), true, u"hw", "A->B\n"},
        {"mark only", utf8_mark, false, u"", fail},
        {"UTF-16 mark only", utf16le_mark, false, u"", fail},
        {"CR LF reads as LF", "hw\r\nA B\r\nC D\r\n", true, u"hw", "A->B\nC->D\n"},
        {"UTF-16 CR LF reads as LF", utf16le_mark + utf16_bytes(u"hw\r\nA B,C\r\n"), true, u"hw", "A->B\nA->C\n"},
        {"lone CR ends no line and keeps the unit after it", "hw\nA B\r,C,D\rX E\n", true, u"hw", "A->C\n"},
        {"lone CR ends the id word", "hw\rA B\n", true, u"hw", ""},
        {"CR CR LF keeps one CR", "hw\nA C,B\r\r\nD E\n", true, u"hw", "A->C\nD->E\n"},
        {"CR at the end of the file", "hw\nA B,C\r", true, u"hw", "A->B\n"},
        {"Ctrl-Z is an ordinary character", "hw\nA B\n\x1A\nC D\n", true, u"hw", "A->B\nC->D\n"},
        {"invalid byte in the id", "h\xFFw\n", true, u"h\uFFFDw", ""},
        {"truncated sequence is one replacement", "h\xE2\x82w\n", true, u"h\uFFFDw", ""},
        {"sequence cut by the end of the file", "hw\xF0\x9F\x98", true, u"hw\uFFFD", ""},
        {"four-byte character in the id", "k\xF0\x9F\x98\x80\n", true, u"k\U0001F600", ""},
        {"non-ASCII in a key token", "hw\nA\xC3\xA9 B\n", true, u"hw", ""},
        {"invalid byte in an output name", "hw\nA B\xFF,C\n", true, u"hw", "A->C\n"},
        {"invalid byte before the separator", "hw\nA B,\xFF C\n", true, u"hw", "A->B\n"},
        {"odd last byte of UTF-16 dropped", utf16le_mark + utf16_bytes(u"hw\nA B") + "\x0A", true, u"hw", "A->B\n"},
        {"lone surrogate stays in the id", utf16le_mark + utf16_bytes(u"h\xD800w\n"), true, u"h\xD800w", ""},
        {"lone surrogate in a line is no key", utf16le_mark + utf16_bytes(u"hw\nA\xDC00 B\nC D,E\xD800\n"), true, u"hw",
         "C->D\n"},
        {"zero unit ends the text of its line", utf16le_mark + utf16_bytes(std::u16string(u"hw\nA B\0,C\nD E\n", 14)),
         true, u"hw", "A->B\nD->E\n"},
        {"zero unit at the start of a line", utf16_bytes(std::u16string(u"hw\n\0A B\nC D\n", 12)), true, u"hw",
         "C->D\n"},
    });
}

TEST(ConfigEncoding, JunkNeverCrashes) {
    // Every byte value in many arrangements, with and without marks: the load
    // must end with one of its two results and stay inside its buffers.
    std::string junk;
    uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        junk += static_cast<char>(state >> 24);
    }
    const std::string starts[] = {"", utf8_mark, utf16le_mark, utf16be_mark, "kbd\n"};
    for (const std::string& start : starts) {
        for (size_t cut : {size_t(1), size_t(3), size_t(4097), junk.size()}) {
            fresh_keymap();
            captured_load result = load_bytes_captured(start + junk.substr(0, cut));
            if (!result.ok) {
                EXPECT_EQ(no_id_message, result.out);
            }
        }
    }
}

}  // namespace
