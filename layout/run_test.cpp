#include "layout/run.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "keymap/text.h"
#include "tests/support/own_files.h"

namespace {

struct result {
    int status;
    std::string out;
};

result run(const std::vector<std::string>& args) {
    std::vector<std::u16string> wide = {u"padmap-layout"};
    for (const std::string& a : args) {
        std::u16string w(a.size() + 1, u'\0');
        w.resize(utf8_to_utf16(a.c_str(), &w[0], w.size()));
        wide.push_back(w);
    }
    std::vector<const char16_t*> argv;
    for (const std::u16string& w : wide) argv.push_back(w.c_str());
    testing::internal::CaptureStdout();
    int status = layout_main((int)argv.size(), argv.data());
    std::fflush(stdout);
    return {status, testing::internal::GetCapturedStdout()};
}

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The whole file, or "(none)" when it cannot be read.
std::string get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return in ? all.str() : "(none)";
}

const char usage[] =
    "usage: padmap-layout CONFIG [OUT.svg]\n"
    "Draws the keyboard layout that the padmap configuration CONFIG gives\n"
    "as an SVG picture. OUT.svg defaults to CONFIG with its extension\n"
    "replaced by .svg.\n";

TEST(LayoutMain, ConsoleOutputStatusAndFile) {
    // Text from the configuration, its name included, must be escaped in the picture.
    const std::string cfg = own_path("layout_<odd>&'name\"");
    const std::string out = own_path("layout_run_out.svg");
    const std::string no_dir = cfg + "-missing/x.svg";
    const std::string alias = own_path("./layout_<odd>&'name\"");
    struct row {
        const char* what;
        const char* config;  // file content, or null for no file
        std::vector<std::string> args;
        std::string written;  // the output path the row expects to be used
        std::string console;
        int status;
        std::vector<std::string> svg_has = {};
    };
    // clang-format off
    const row rows[] = {
        {"no argument", "KBD\n", {}, out, usage, 2},
        {"too many", "KBD\n", {cfg, out, "more"}, out, usage, 2},
        {"an unknown option", "KBD\n", {"--svg", cfg}, out, usage, 2},
        {"missing file", nullptr, {cfg, out}, out, "failed to open " + cfg + "\n", 1},
        {"no hardware id", " \n\n", {cfg, out}, out, "first line in config file must be hardware id\n", 1},
        {"written", "\xEF\xBB\xBFid<svg>&\"x'\x01\nF1 C-C\nF2 C-V,Enter\nF3 Nothing\n", {cfg, out}, out,
         "F1->C-C\nF2->C-V\nF2->Enter\nwrote " + out + "\n", 0,
         {"<title>padmap layout: id&lt;svg&gt;&amp;&quot;x&apos;\xEF\xBF\xBD</title>",
          ">keyboard: id&lt;svg&gt;&amp;&quot;x&apos;\xEF\xBF\xBD</text>",
          ">configuration: layout_&lt;odd&gt;&amp;&apos;name&quot;</text>"}},
        {"default output", "KBD\nCaps Backspace\n", {cfg}, cfg + ".svg",
         "Caps->Backspace\nwrote " + cfg + ".svg\n", 0},
        {"output is the configuration", "KBD\nCaps Backspace\n", {cfg, cfg}, cfg,
         "will not write over the configuration file " + cfg + "\n", 1},
        {"output is the configuration by another path", "KBD\nCaps Backspace\n", {cfg, alias}, cfg,
         "will not write over the configuration file " + cfg + "\n", 1},
        {"cannot write", "KBD\nCaps Backspace\n", {cfg, no_dir}, no_dir,
         "Caps->Backspace\nfailed to write " + no_dir + "\n", 1},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::remove(cfg.c_str());
        if (r.config) put(cfg, r.config);
        if (r.written != cfg) put(r.written, "old");
        result got = run(r.args);
        EXPECT_EQ(got.out, r.console);
        EXPECT_EQ(got.status, r.status);
        std::string bytes = get(r.written);
        if (r.status == 0) {
            EXPECT_EQ(bytes.compare(0, 6, "<?xml "), 0);
            EXPECT_EQ(bytes.find("<svg>"), std::string::npos);
        } else if (r.written == cfg)
            EXPECT_EQ(bytes, r.config);
        else
            EXPECT_TRUE(bytes == "(none)" || bytes == "old") << bytes.substr(0, 40);
        for (const std::string& part : r.svg_has) EXPECT_NE(bytes.find(part), std::string::npos) << part;
        std::remove(r.written.c_str());
        std::remove(cfg.c_str());
    }
}

TEST(LayoutMain, DefaultOutputPath) {
    const std::pair<std::u16string, std::u16string> rows[] = {
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
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.first.begin(), r.first.end()));
        EXPECT_EQ(default_output_path(r.first), r.second);
    }
}

}  // namespace
