#ifndef PADMAP_TESTS_SUPPORT_PROGRAM_RUN_H
#define PADMAP_TESTS_SUPPORT_PROGRAM_RUN_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "app/notices.h"
#include "app/stop.h"
#include "console/console.h"
#include "sim/sim.h"
#include "tests/support/key_strokes.h"
#include "tests/support/own_files.h"

// Test support: the whole program run from its entry on the simulated driver,
// with what it printed and what reached the system.

inline bool operator==(const sim_typed& a, const sim_typed& b) {
    return a.device == b.device && a.key == b.key;
}

// One line a stroke, as padmap-replay lists deliveries.
inline std::string describe(const std::vector<sim_typed>& strokes) {
    std::string text;
    char line[48];
    for (const sim_typed& t : strokes) {
        std::snprintf(line, sizeof line, "%d %04x %04x %08lx\n", t.device, static_cast<unsigned>(t.key.make_code),
                      static_cast<unsigned>(t.key.key_state), static_cast<unsigned long>(t.key.extra_info));
        text += line;
    }
    return text;
}

// Bytes on standard output so far; buffered ones only when flush is set.
inline long console_size(bool flush = true) {
    if (flush) std::fflush(stdout);
    struct stat status;
    return fstat(fileno(stdout), &status) == 0 ? static_cast<long>(status.st_size) : -1;
}

struct program_run {
    const std::vector<sim_typed>* script = nullptr;
    int status = -1;
    std::string output;
    std::vector<long> typed_at;          // how much was printed when each stroke was typed
    std::vector<sim_typed> delivered;    // what reached the system, in order
    std::vector<int> during;             // per delivery: the typed stroke being handled, -1 after the last
    bool ended = false;                  // the script ran out
    std::vector<long> delivered_at;      // per delivery: how much was printed by then
    long printed_at_first_request = -1;  // how much was printed when the driver was first asked anything
    int calls[sim_step_count] = {};      // attempts of each driver step
    struct run_options const* options = nullptr;
};

struct run_options {
    size_t stop_at_delivery = SIZE_MAX;  // a stop is asked for while this delivery is made
    // The log written at once on the loop's thread, so that what was printed
    // while each stroke was handled can be told apart.
    padmap_log_output log = {padmap_console_log().sink, nullptr, false};
    std::function<void(size_t delivery)> on_delivery;  // after each delivery is noted
    std::function<void()> on_end;                      // when the script has run out
    std::function<void(size_t typed)> before_typed;    // as each item of the script is about to happen
    std::vector<std::string> args;                     // instead of the configuration path
    loop_report* report = nullptr;                     // set: remap mode as padmapw runs it, telling this report
};

// The driver's source and sink for run_program.
inline bool program_run_type(void* context, sim_typed* next) {
    program_run* run = static_cast<program_run*>(context);
    if (run->typed_at.size() >= run->script->size()) {
        if (!run->ended && run->options->on_end) run->options->on_end();
        run->ended = true;
        return false;
    }
    size_t index = run->typed_at.size();
    if (run->options->before_typed) run->options->before_typed(index);
    *next = (*run->script)[index];
    run->typed_at.push_back(console_size());
    return true;
}

inline void program_run_deliver(void* context, int device, const key_stroke* key) {
    program_run* run = static_cast<program_run*>(context);
    run->delivered.push_back({device, *key});
    run->during.push_back(run->ended ? -1 : static_cast<int>(run->typed_at.size()) - 1);
    run->delivered_at.push_back(console_size(false));
    if (run->delivered.size() - 1 == run->options->stop_at_delivery) request_stop();
    if (run->options->on_delivery) run->options->on_delivery(run->delivered.size() - 1);
}

inline void program_run_request(void* context, const sim_request*) {
    program_run* run = static_cast<program_run*>(context);
    if (run->printed_at_first_request < 0) run->printed_at_first_request = console_size(false);
}

inline void program_run_interrupt(void*) {
    request_stop();
}

// Every handle the program opened is closed and every block it took is freed.
inline void expect_nothing_left() {
    EXPECT_EQ(0, sim_open_handles()) << "a handle is left open at exit";
    EXPECT_EQ(0, sim_live_blocks()) << "a heap block is left at exit";
}

// Runs padmap on the driver as the caller declared it since sim_reset, typing
// the script: remap mode with the configuration at config_path, identify mode
// when it is empty, or padmap with the arguments the options give. Checks
// that the run left no handle open and no heap block taken.
inline program_run run_program(const std::vector<sim_typed>& script, const std::string& config_path,
                               const run_options& options = {}) {
    program_run run;
    run.options = &options;
    run.script = &script;
    reset_stop();
    sim_set_source(program_run_type, &run);
    sim_set_sink(program_run_deliver, &run);
    sim_set_request_sink(program_run_request, &run);
    sim_set_interrupt_hook(program_run_interrupt, nullptr);
    std::vector<std::u16string> args = {u"padmap"};
    if (!config_path.empty()) args.push_back(std::u16string(config_path.begin(), config_path.end()));
    for (const std::string& arg : options.args) args.push_back(std::u16string(arg.begin(), arg.end()));
    std::vector<const char16_t*> argv;
    for (const std::u16string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    run.status = options.report != nullptr ? padmap_run_unseen(static_cast<int>(args.size()) - 1, argv.data() + 1,
                                                               options.log, nullptr, options.report)
                                           : padmap_run(static_cast<int>(args.size()), argv.data(), options.log);
    run.output = testing::internal::GetCapturedStdout();
    sim_set_source(nullptr, nullptr);
    sim_set_sink(nullptr, nullptr);
    sim_set_request_sink(nullptr, nullptr);
    sim_set_interrupt_hook(nullptr, nullptr);
    for (int s = 0; s < sim_step_count; ++s) run.calls[s] = sim_step_calls(static_cast<sim_step>(s));
    // Whatever way the run ended, it left nothing open.
    expect_nothing_left();
    return run;
}

// What was printed before the first stroke was typed, then while each typed
// stroke was handled.
inline std::vector<std::string> output_parts(const program_run& run) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (long at : run.typed_at) {
        parts.push_back(run.output.substr(from, static_cast<size_t>(at) - from));
        from = static_cast<size_t>(at);
    }
    parts.push_back(run.output.substr(from));
    return parts;
}

// Writes the configuration to a file of the running test's own, in this
// process's own folder; returns its path. A file not written shows as the
// program's failure to open it.
inline std::string write_config(const std::string& text, const std::string& name = "") {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return write_own_file(std::string(test->test_suite_name()) + "-" + test->name() + name + ".cfg", text);
}

// A key stroke of the code (0xE000 and more: with the E0 flag), pressed or released.
inline key_stroke stroke_of(uint16_t code, bool release) {
    uint16_t state = static_cast<uint16_t>((release ? key_state_up : 0) | (code > 0xFF ? key_state_e0 : 0));
    return key_stroke{static_cast<uint16_t>(code & 0xFF), state, 0};
}

// Walks what reached the system on the device, each output with the typed
// key whose stroke sent it: a key's release must let go of what that key's
// presses pressed, nothing else, and once every key is released nothing may
// be down. (Two keys may send one output: each answers for its own.) Empty
// when so; otherwise what is wrong.
inline std::string check_outputs_balance(const program_run& run, const std::vector<sim_typed>& script, int device) {
    std::set<std::pair<uint16_t, std::pair<int, bool>>> down;  // (typed key, output)
    for (size_t k = 0; k < run.delivered.size(); ++k) {
        const sim_typed& d = run.delivered[k];
        if (d.device != device) continue;
        if (run.during[k] < 0) return "an output was left held until the end";
        const key_stroke& typed = script[static_cast<size_t>(run.during[k])].key;
        uint16_t source = static_cast<uint16_t>(typed.make_code | ((typed.key_state & key_state_e0) ? 0xE000 : 0));
        auto key = std::make_pair(
            source, std::make_pair(static_cast<int>(d.key.make_code), (d.key.key_state & key_state_e0) != 0));
        if (!(d.key.key_state & key_state_up)) {
            down.insert(key);
        } else if (down.erase(key) == 0) {
            return "released " + std::to_string(key.second.first) + " that key " + std::to_string(source) +
                   " did not press";
        }
    }
    return down.empty() ? "" : std::to_string(down.size()) + " keys left held";
}

#endif
