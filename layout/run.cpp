#include "layout/run.h"

#include <cstdio>
#include <memory>
#include <new>

#include "console/console.h"
#include "keymap/config.h"
#include "keymap/text.h"
#include "layout/load_layout.h"
#include "layout/out_file.h"
#include "layout/picture.h"
#include "layout/svg_layout.h"

namespace {

std::string to_utf8(const std::u16string& text) {
    return utf8_text(text.c_str());
}

bool is_separator(char16_t c) {
    return c == u'/' || c == u'\\';
}

size_t name_start(const std::u16string& path) {
    size_t at = path.size();
    while (at > 0 && !is_separator(path[at - 1])) --at;
    return at;
}

const char usage[] =
    "usage: padmap-layout CONFIG [OUT.svg]\n"
    "Draws the keyboard layout that the padmap configuration CONFIG gives\n"
    "as an SVG picture. OUT.svg defaults to CONFIG with its extension\n"
    "replaced by .svg.\n";

const char help[] =
    "\n"
    "  --help     shows this text\n"
    "  --version  shows the version\n"
    "\n"
    "Exit status: 0 when the picture was written; 1 when CONFIG cannot be\n"
    "loaded or the picture cannot be written; 2 for a wrong command line.\n";

constexpr int status_usage = 2;

bool is(const std::u16string& arg, const char16_t* option) {
    return arg == option;
}

}  // namespace

std::u16string default_output_path(const std::u16string& config) {
    size_t start = name_start(config);
    size_t dot = config.rfind(u'.');
    std::u16string out = config;
    if (dot != std::u16string::npos && dot > start) out.resize(dot);
    out += u".svg";
    if (out == config) out += u".svg";
    return out;
}

int layout_main(int argc, const char16_t* const* argv) {
    if (argc == 2 && (is(argv[1], u"--help") || is(argv[1], u"-h") || is(argv[1], u"/?"))) {
        console_print(console_out, usage);
        console_print(console_out, help);
        return 0;
    }
    if (argc == 2 && is(argv[1], u"--version")) {
        console_print(console_out, "padmap-layout 1.0\n");
        return 0;
    }
    // An argument that starts with "--" is an option (a file of such a name
    // is written ./--name).
    bool option = false;
    for (int i = 1; i < argc; ++i) option = option || std::u16string(argv[i]).compare(0, 2, u"--") == 0;
    if (argc < 2 || argc > 3 || option) {
        console_print(console_out, usage);
        return status_usage;
    }
    std::u16string config_path = argv[1];
    std::u16string out = argc == 3 ? std::u16string(argv[2]) : default_output_path(config_path);
    if (out == config_path || same_existing_file(out.c_str(), config_path.c_str())) {
        console_printf(console_out, "will not write over the configuration file %s\n", to_utf8(config_path).c_str());
        return 1;
    }

    // A configuration with its key tables is too large for every stack.
    std::unique_ptr<config> layout(new (std::nothrow) config);
    std::unique_ptr<layout_names> names(new (std::nothrow) layout_names);
    if (layout == nullptr || names == nullptr || !load_layout_config(config_path.c_str(), layout.get(), names.get())) {
        return 1;
    }
    // One keyboard for the layout outside sections, one more for each section.
    std::string svg;
    draw_layouts(layout_views(*layout, names->named), to_utf8(layout->configured_hardware_id),
                 to_utf8(config_path.substr(name_start(config_path))), svg);
    if (!write_output_file(out.c_str(), svg)) {
        console_printf(console_out, "failed to write %s\n", to_utf8(out).c_str());
        return 1;
    }
    console_printf(console_out, "wrote %s\n", to_utf8(out).c_str());
    return 0;
}
