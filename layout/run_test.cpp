#include "layout/run.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keymap/text.h"

namespace {

std::u16string u16(const std::string& text)
{
    std::u16string out(text.size() + 1, u'\0');
    out.resize(utf8_to_utf16(text.c_str(), &out[0], out.size()));
    return out;
}

struct result {
    int status;
    std::string out;
};

result run(const std::vector<std::string>& args)
{
    std::vector<std::u16string> wide = {u"padmap-layout"};
    for (const std::string& a : args)
        wide.push_back(u16(a));
    std::vector<const char16_t*> argv;
    for (const std::u16string& w : wide)
        argv.push_back(w.c_str());
    testing::internal::CaptureStdout();
    int status = layout_main((int)argv.size(), argv.data());
    std::fflush(stdout);
    return {status, testing::internal::GetCapturedStdout()};
}

void put(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool get(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return true;
}

std::string fill(std::string text, const std::string& cfg, const std::string& out)
{
    for (size_t at; (at = text.find("{cfg}")) != std::string::npos;)
        text.replace(at, 5, cfg);
    for (size_t at; (at = text.find("{out}")) != std::string::npos;)
        text.replace(at, 5, out);
    return text;
}

const char usage[] =
    "usage: padmap-layout CONFIG [OUT.svg]\n"
    "Draws the keyboard layout that the padmap configuration CONFIG gives\n"
    "as an SVG picture. OUT.svg defaults to CONFIG with its extension\n"
    "replaced by .svg.\n";

TEST(LayoutMain, ConsoleOutputStatusAndFile)
{
    struct row {
        const char* what;
        const char* config; // file content, or null for no file
        std::vector<std::string> args;
        const char* out;    // the output path the row expects to be used
        std::string console;
        int status;
    };
    const std::string dir = testing::TempDir();
    const row rows[] = {
        {"no argument", "KBD\n", {}, "{out}", usage, 1},
        {"too many", "KBD\n", {"{cfg}", "{out}", "more"}, "{out}", usage, 1},
        {"missing file", nullptr, {"{cfg}", "{out}"}, "{out}", "failed to open {cfg}\n", 1},
        {"no hardware id", " \n\n", {"{cfg}", "{out}"}, "{out}",
         "first line in config file must be hardware id\n", 1},
        {"written", "KBD\nF1 C-C\nF2 C-V,Enter\nF3 Nothing\n", {"{cfg}", "{out}"}, "{out}",
         "F1->C-C\nF2->C-V\nF2->Enter\nwrote {out}\n", 0},
        {"default output", "KBD\nCaps Backspace\n", {"{cfg}"}, "{cfg}.svg",
         "Caps->Backspace\nwrote {cfg}.svg\n", 0},
        {"output is the configuration", "KBD\nCaps Backspace\n", {"{cfg}", "{cfg}"}, "{cfg}",
         "will not write over the configuration file {cfg}\n", 1},
        {"cannot write", "KBD\nCaps Backspace\n", {"{cfg}", "{cfg}-missing/x.svg"}, "{cfg}-missing/x.svg",
         "Caps->Backspace\nfailed to write {cfg}-missing/x.svg\n", 1},
    };
    int n = 0;
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string cfg = dir + "layout_run_" + std::to_string(n);
        std::string out = dir + "layout_run_out_" + std::to_string(n) + ".svg";
        ++n;
        std::remove(cfg.c_str());
        if (r.config)
            put(cfg, r.config);
        std::string out_path = fill(r.out, cfg, out);
        if (out_path != cfg)
            put(out_path, "old");

        std::vector<std::string> args;
        for (const std::string& a : r.args)
            args.push_back(fill(a, cfg, out));
        result got = run(args);
        EXPECT_EQ(got.out, fill(r.console, cfg, out));
        EXPECT_EQ(got.status, r.status);

        std::string bytes;
        bool exists = get(out_path, bytes);
        if (r.status == 0)
            EXPECT_EQ(bytes.compare(0, 6, "<?xml "), 0);
        else if (out_path == cfg)
            EXPECT_EQ(bytes, r.config);
        else
            EXPECT_TRUE(!exists || bytes == "old") << bytes.substr(0, 40);
        std::remove(out_path.c_str());
        std::remove(cfg.c_str());
    }
}

TEST(LayoutMain, DefaultOutputPath)
{
    struct row {
        std::u16string config;
        std::u16string out;
    };
    const row rows[] = {
        {u"pad.cfg", u"pad.svg"},
        {u"dir/pad.cfg", u"dir/pad.svg"},
        {u"dir.d/pad", u"dir.d/pad.svg"},
        {u"dir.d\\pad", u"dir.d\\pad.svg"},
        {u"my.pad.txt", u"my.pad.svg"},
        {u".padrc", u".padrc.svg"},
        {u"pad.", u"pad.svg"},
        {u"pad.svg", u"pad.svg.svg"},
        {u"C:\\Users\\\u00e9\\pad.cfg", u"C:\\Users\\\u00e9\\pad.svg"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.config.begin(), r.config.end()));
        EXPECT_EQ(default_output_path(r.config), r.out);
    }
}

TEST(LayoutMain, TextFromTheConfigurationIsEscaped)
{
    std::string dir = testing::TempDir();
    std::string cfg = dir + "layout_<odd>&'name\".cfg";
    std::string out = dir + "layout_escaped.svg";
    put(cfg, "\xEF\xBB\xBFid<svg>&\"x'\x01\nF1 Nothing\n");
    result got = run({cfg, out});
    ASSERT_EQ(got.status, 0) << got.out;
    std::string svg;
    ASSERT_TRUE(get(out, svg));
    EXPECT_NE(svg.find("<title>padmap layout: id&lt;svg&gt;&amp;&quot;x&apos;\xEF\xBF\xBD</title>"),
              std::string::npos);
    EXPECT_NE(svg.find(">keyboard: id&lt;svg&gt;&amp;&quot;x&apos;\xEF\xBF\xBD</text>"), std::string::npos);
    EXPECT_NE(svg.find(">configuration: layout_&lt;odd&gt;&amp;&apos;name&quot;.cfg</text>"),
              std::string::npos);
    EXPECT_EQ(svg.find("<svg>"), std::string::npos);
    std::remove(cfg.c_str());
    std::remove(out.c_str());
}

}
