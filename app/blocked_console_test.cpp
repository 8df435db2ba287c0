// Random sessions against a console that is held and let go at random points
// while the keys are handled: what reaches the system is exactly what it is
// with a console that never waits, and the log is the same or the same with
// whole lines left out, each gap marked by one notice with its count. The
// console opens again only from the key loop itself, so a loop that waited
// for it would never get there.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/gated_console.h"
#include "tests/support/program_run.h"

namespace {

const char configured_id[] = "HID\\VID_04D9&PID_1702";
const char mappings[] =
    "Caps Backspace\n"
    "#001d user1\n"
    "F5 user1\n"
    "A S-C-A-W-rS-rC-rA-rW-B,S-Enter,rA-Right,C-A-Home,B,C,D,E,F,G,H,I,J,K,L,M\n";
const uint16_t keys[] = {0x3A, 0x1D, 0x3F, 0x1E, 0x10, 0x39};

std::vector<sim_typed> random_session(std::mt19937& random) {
    std::vector<sim_typed> typed(random() % 200);
    for (sim_typed& t : typed) {
        t.device = random() % 3 == 0 ? 2 : 1;
        t.key = key_stroke{keys[random() % 6], static_cast<uint16_t>(random() % 2), 0};
    }
    return typed;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        lines.push_back(text.substr(from, end + 1 - from));
    }
    if (from < text.size()) lines.push_back(text.substr(from));
    return lines;
}

// Empty when the log is the expected one with whole lines left out and a
// notice standing for each gap; otherwise what is wrong.
std::string compare_with_gaps(const std::string& expected_text, const std::string& actual_text) {
    std::vector<std::string> expected = lines_of(expected_text);
    size_t at = 0;
    for (const std::string& line : lines_of(actual_text)) {
        unsigned long count = 0;
        char tail[64] = "";
        if (std::sscanf(line.c_str(), "... %lu log line%63[^\n]", &count, tail) == 2) {
            char notice[128];
            if (count == 0 || line != std::string(notice, left_out_notice(count, notice, sizeof notice))) {
                return "a notice that is not one: " + line;
            }
            at += count;
            if (at > expected.size()) return "a notice counts more lines than there are: " + line;
            continue;
        }
        if (at >= expected.size() || line != expected[at]) {
            return "line " + std::to_string(at) + " is " + line + " instead of " +
                   (at < expected.size() ? expected[at] : std::string("nothing"));
        }
        ++at;
    }
    return at == expected.size() ? "" : "the log ends early at line " + std::to_string(at);
}

TEST(BlockedConsole, KeysAndLogAreThoseOfAConsoleThatNeverWaits) {
    const std::string config = write_config(std::string(configured_id) + "\n" + mappings);
    int sessions_with_gaps = 0;
    for (int seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(static_cast<uint32_t>(seed));
        std::vector<sim_typed> typed = random_session(random);
        sim_reset();
        sim_declare_device(1, configured_id);
        sim_declare_device(2, "HID\\VID_046D&PID_C31C");
        program_run reference = run_program(typed, config);
        ASSERT_EQ(reference.status, 0);
        std::string reference_log = reference.output.substr(output_parts(reference)[0].size());

        gated_console console;
        std::vector<size_t> flips;
        for (int n = random() % 7; n > 0; --n) flips.push_back(random() % (reference.delivered.size() + 1));
        run_options options;
        options.log = padmap_log_output{write_gated, &console, true, 64 + random() % 4096, -1};
        // Once the session is over the console stays open, so the end of the
        // run finds the log drained.
        bool over = false;
        bool open = true;
        options.on_delivery = [&](size_t delivery) {
            for (size_t flip : flips) {
                if (flip == delivery && !over) set_open(&console, open = !open);
            }
        };
        options.on_end = [&] {
            over = true;
            set_open(&console, true);
        };
        sim_reset();
        sim_declare_device(1, configured_id);
        sim_declare_device(2, "HID\\VID_046D&PID_C31C");
        program_run run;
        {
            watchdog guard("blocked-console test: a run (the key loop waited for the console)");
            run = run_program(typed, config, options);
        }
        ASSERT_EQ(run.status, 0);
        EXPECT_EQ(describe(run.delivered), describe(reference.delivered));
        EXPECT_EQ(run.output, output_parts(reference)[0]) << "text outside the log";
        std::string log = written(&console);
        EXPECT_EQ(compare_with_gaps(reference_log, log), "");
        sessions_with_gaps += log != reference_log;
        if (HasFailure()) return;
    }
    std::remove(config.c_str());
    // The sessions must put the notice to the test, not only the plain path.
    EXPECT_GT(sessions_with_gaps, 30);
}

}  // namespace
