#include "app/entry.h"

#include "app/check.h"
#include "app/control_channel.h"
#include "app/platform.h"
#include "app/run.h"
#include "app/startup.h"
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
    "       padmap --status | --reload | --pause | --resume | --quit\n"
    "       padmap --startup on [CONFIG...] | --startup off\n"
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
    "  --status          tells what the padmapw of this session does\n"
    "  --reload, --pause, --resume, --quit\n"
    "                    ask it to read its files again, to let the keyboards\n"
    "                    type their own keys, to capture them again, to end\n"
    "  --startup on [CONFIG...]\n"
    "                    starts padmapw at logon, with the CONFIGs given (none:\n"
    "                    the .cfg files of %APPDATA%\\padmap); off: no more\n"
    "  --help            shows this text\n"
    "  --version         shows the version\n"
    "\n"
    "Exit status: 0 when all went well; 1 when CONFIG cannot be used or the\n"
    "driver is missing (--check: findings; --status and the like: no padmapw\n"
    "runs); 2 for a wrong command line (--check: CONFIG cannot be read).\n";

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

// The requests of --status and the like, as the channel writes them.
const struct {
    const char16_t* option;
    const char* request;
} control_options[] = {{u"--status", "status"},
                       {u"--reload", "reload"},
                       {u"--pause", "pause"},
                       {u"--resume", "resume"},
                       {u"--quit", "quit"}};

int control(const char* request) {
    std::string answer;
    control_result result = ask_padmapw(request, &answer);
    if (result == control_none) console_print(console_out, "padmapw is not running in this session\n");
    if (result == control_failed) console_print(console_out, "padmapw did not answer\n");
    if (result != control_answered) return 1;
    console_write(console_out, answer.data(), answer.size());
    return 0;
}

int startup(int argc, const char16_t* const* argv) {
    if (argc < 3 || (!is(argv[2], u"on") && !is(argv[2], u"off")) || (is(argv[2], u"off") && argc > 3)) {
        return wrong_command_line();
    }
    for (int i = 3; i < argc; ++i) {
        if (is_option(argv[i])) return wrong_command_line();
    }
    if (argc - 3 > max_config_files) return too_many_files();
    bool on = is(argv[2], u"on");
    std::string why;
    if (on ? !startup_on(argc - 3, argv + 3, &why) : !startup_off(&why)) {
        console_printf(console_out, "padmap cannot change what starts at logon: %s\n", why.c_str());
        return 1;
    }
    console_print(console_out, on ? "padmapw starts at logon\n" : "padmapw no longer starts at logon\n");
    return 0;
}

// The driver takes one program: a padmapw that runs holds it.
bool padmapw_elsewhere() {
    std::string answer;
    if (ask_padmapw("process", &answer) != control_answered) return false;
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    console_printf(console_out, "padmapw runs in this session (process %s): end it first with padmap --quit\n",
                   answer.c_str());
    return true;
}

// What every run mode does first: the banner, the priority, the device set.
run_state start_run(const padmap_log_output& output) {
    console_print(console_out, banner);
    console_flush(console_out);
    os_raise_priority();
    run_state run = {};
    run.set = open_device_set();
    run.output = output;
    return run;
}

int run_mode(int argc, const char16_t* const* argv, const padmap_log_output& output) {
    run_state run = start_run(output);
    int status = 1;
    if (argc >= 2 && is(argv[1], u"--monitor")) {
        if (driver_usable(&run)) status = run_monitor(&run);
    } else if (argc < 2) {
        if (driver_usable(&run)) status = run_identify(&run);
    } else if (!padmapw_elsewhere()) {
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
    for (const auto& option : control_options) {
        if (argc >= 2 && is(argv[1], option.option)) return argc == 2 ? control(option.request) : wrong_command_line();
    }
    if (argc >= 2 && is(argv[1], u"--startup")) return startup(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (is_option(argv[i])) return wrong_command_line();
    }
    if (argc - 1 > max_config_files) return too_many_files();
    return run_mode(argc, argv, output);
}

padmap_log_output padmap_console_log() {
    return padmap_log_output{console_sink, nullptr, true};
}

int padmap_run_unseen(int count, const char16_t* const* paths, const padmap_log_output& output, notice_queue* notices,
                      loop_report* report) {
    run_state run = start_run(output);
    run.notices = notices;
    run.report = report;
    // Without a file, a New configuration names its keyboard as identify mode does.
    int status = count > 0 ? run_remap(&run, count, paths) : driver_usable(&run) ? run_identify(&run) : 1;
    close_device_set(run.set);
    return status;
}

int padmap_main(int argc, const char16_t* const* argv) {
    return padmap_run(argc, argv, padmap_console_log());
}
