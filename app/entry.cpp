#include "app/entry.h"

#include "app/check.h"
#include "app/platform.h"
#include "app/run.h"
#include "console/console.h"
#include "keymap/config.h"

namespace {

const char banner[] =
    "padmap v1.0 - one keyboard, its own layout - (c) 2026 the padmap authors\n"
    "built on the keyboard filter driver - thanks to its author\n";

const char usage[] =
    "usage: padmap [CONFIG...]\n"
    "       padmap --check CONFIG...\n"
    "       padmap --monitor\n"
    "       padmap --help | --version\n";

const char help[] =
    "\n"
    "Gives a keyboard a key layout of its own through the keyboard filter\n"
    "driver; every other keyboard keeps working as before.\n"
    "\n"
    "  padmap            press a key: prints the hardware id of its keyboard\n"
    "  padmap CONFIG...  remaps each keyboard that a CONFIG names (up to ten,\n"
    "                    one file each), until stopped with Ctrl+C or by\n"
    "                    closing the window\n"
    "  --check CONFIG... reads each CONFIG as padmap would and names every\n"
    "                    mistake with its line; no driver needed\n"
    "  --monitor         shows every key of every keyboard as a configuration\n"
    "                    writes it, with each keyboard's hardware id\n"
    "  --help            shows this text\n"
    "  --version         shows the version\n"
    "\n"
    "Exit status: 0 when all went well; 1 when CONFIG cannot be used or the\n"
    "driver is missing (--check: findings); 2 for a wrong command line\n"
    "(--check: CONFIG cannot be read).\n";

const char version[] = "padmap 1.0\n";

constexpr int status_usage = 2;

bool is(const char16_t* arg, const char16_t* option) {
    while (*arg != 0 && *arg == *option) {
        ++arg;
        ++option;
    }
    return *arg == *option;
}

int wrong_command_line() {
    console_print(console_out, usage);
    return status_usage;
}

int too_many_files() {
    console_printf(console_out, "padmap takes at most %d configuration files\n", max_config_files);
    return wrong_command_line();
}

bool is_option(const char16_t* arg) {
    return arg[0] == u'-' && arg[1] == u'-';
}

log_sink_answer console_sink(void*, const char* text, size_t size) {
    log_sink_answer answer = {log_sink_took, ""};
    console_answer wrote = console_write_direct(text, size, answer.why, sizeof answer.why);
    if (wrote == console_busy) answer.state = log_sink_busy;
    if (wrote == console_failed) answer.state = log_sink_failed;
    return answer;
}

int run_mode(int argc, const char16_t* const* argv, const padmap_log_output& output) {
    console_print(console_out, banner);
    console_flush(console_out);
    os_raise_priority();
    run_state run = {};
    run.set = open_device_set();
    run.output = output;
    int status = 1;
    if (argc >= 2 && is(argv[1], u"--monitor")) {
        if (driver_usable(&run)) status = run_monitor(&run);
    } else if (argc < 2) {
        if (driver_usable(&run)) status = run_identify(&run);
    } else {
        status = run_remap(&run, argc - 1, argv + 1);
    }
    // A run that ended before its loop (a configuration that cannot be used)
    // still lets the driver go.
    close_device_set(run.set);
    return status;
}

}  // namespace

int padmap_run(int argc, const char16_t* const* argv, const padmap_log_output& output) {
    // An argument that starts with "--" is an option, never a configuration
    // (a file of such a name is written ./--name).
    if (argc >= 2 && (is(argv[1], u"--help") || is(argv[1], u"-h") || is(argv[1], u"/?"))) {
        console_print(console_out, usage);
        console_print(console_out, help);
        return 0;
    }
    if (argc >= 2 && is(argv[1], u"--version")) {
        console_print(console_out, version);
        return 0;
    }
    if (argc >= 2 && is(argv[1], u"--check")) {
        if (argc < 3) return wrong_command_line();
        for (int i = 2; i < argc; ++i) {
            if (is_option(argv[i])) return wrong_command_line();
        }
        if (argc - 2 > max_config_files) return too_many_files();
        return run_check(argc - 2, argv + 2);
    }
    if (argc >= 2 && is(argv[1], u"--monitor")) return run_mode(argc, argv, output);
    for (int i = 1; i < argc; ++i) {
        if (is_option(argv[i])) return wrong_command_line();
    }
    if (argc - 1 > max_config_files) return too_many_files();
    return run_mode(argc, argv, output);
}

padmap_log_output padmap_console_log() {
    return padmap_log_output{console_sink, nullptr, true};
}

int padmap_main(int argc, const char16_t* const* argv) {
    return padmap_run(argc, argv, padmap_console_log());
}
