#include "layout/xml_text.h"

#include <gtest/gtest.h>

namespace {

TEST(XmlText, Escapes) {
    struct row {
        const char* what;
        std::string in;
        std::string out;
    };
    // clang-format off
    const row rows[] = {
        {"plain", "HID\\VID_046D", "HID\\VID_046D"},
        {"markup", "<a href=\"x\">&'", "&lt;a href=&quot;x&quot;&gt;&amp;&apos;"},
        {"entity lookalike", "&amp;", "&amp;amp;"},
        {"tab LF CR kept", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"other controls", std::string("a\x01" "b\x1b" "c\x7f", 6), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\x7f"},
        {"multibyte kept", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"noncharacters", "\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"stray continuation", "a\x80z", "a\xEF\xBF\xBDz"},
        {"cut sequence at end", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate encoded", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong", "\xC0\xBC", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string out = "<";
        append_xml_text(r.in, out);
        EXPECT_EQ(out, "<" + r.out);
    }
}

}  // namespace
