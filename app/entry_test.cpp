#include "app/entry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/control_codes.h"
#include "tests/support/program_run.h"

namespace {

const std::string banner =
    "padmap v1.0 - one keyboard, its own layout - (c) 2026 the padmap authors\n"
    "built on the keyboard filter driver - thanks to its author\n";

int requests_with_code(uint32_t code) {
    int count = 0;
    for (int i = 0; i < sim_request_count(); ++i) count += sim_requests()[i].code == code;
    return count;
}

sim_typed press(int device, uint16_t make) {
    return sim_typed{device, key_stroke{make, 0, 0}};
}

sim_typed release(int device, uint16_t make) {
    return sim_typed{device, key_stroke{make, key_state_up, 0}};
}

TEST(Entry, IdentifyPrintsTheIdOfTheFirstKeyboardTypedOnAndSwallowsTheStroke) {
    // clang-format off
    const struct {
        std::string id;
        std::string expected;
    } rows[] = {
        {"HID\\VID_1A2C&PID_0E24", "hardware id is HID\\VID_1A2C&PID_0E24\n"},
        {"kbd-\xc3\xa9\xe2\x82\xac", "hardware id is kbd-\xc3\xa9\xe2\x82\xac\n"},
        {std::string(498, 'x'), "hardware id is " + std::string(498, 'x') + "\n"},
        {std::string(499, 'x'), "BAD hardware_id, exiting...\n"},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        sim_reset();
        sim_declare_device(2, r.id.c_str());
        sim_declare_device(12, "a mouse");
        program_run run = run_program({press(2, 0x1E)}, "");
        EXPECT_EQ(0, run.status);
        EXPECT_EQ(banner + r.expected, run.output);
        EXPECT_TRUE(run.delivered.empty());
        EXPECT_EQ(3, sim_filter(2));
        EXPECT_EQ(0, sim_filter(12));
        EXPECT_EQ(1, sim_priority_raises());
        EXPECT_EQ(static_cast<long>(banner.size()), run.printed_at_first_request) << "the banner waited in a buffer";
        EXPECT_EQ(0, requests_with_code(ctl_write));
        expect_nothing_left();
    }
}

// The first key press names the keyboard; the release of the Enter that
// started padmap, on another keyboard, goes on to the system.
TEST(Entry, IdentifyTakesTheFirstKeyPressAndPassesReleasesOn) {
    sim_reset();
    sim_declare_device(1, "main keyboard");
    sim_declare_device(2, "macro pad");
    program_run run = run_program({release(1, 0x1C), release(2, 0x3A), press(2, 0x1E), release(2, 0x1E)}, "");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(banner + "hardware id is macro pad\n", run.output);
    EXPECT_EQ(describe({release(1, 0x1C), release(2, 0x3A)}), describe(run.delivered));
    EXPECT_EQ(3u, run.typed_at.size()) << "typed on after the key press";
    expect_nothing_left();
}

// No banner, no driver: only what was asked for, and status 2 for a command
// line padmap cannot take.
TEST(Entry, OptionsAndMistakenCommandLines) {
    const std::string usage =
        "usage: padmap [CONFIG...]\n"
        "       padmap --check CONFIG...\n"
        "       padmap --monitor\n"
        "       padmap --status | --reload | --pause | --resume | --quit\n"
        "       padmap --startup on [CONFIG...] | --startup off\n"
        "       padmap --help | --version\n";
    const std::string good = write_config("kbd\nCaps Backspace\n");
    // clang-format off
    const struct {
        std::vector<std::string> args;
        std::string output;  // the first lines of it
        int status;
    } rows[] = {
        {{"--help"}, usage + "\nGives a keyboard", 0},
        {{"-h"}, usage, 0},
        {{"/?"}, usage, 0},
        {{"--version"}, "padmap 1.0\n", 0},
        {{"--bogus"}, usage, 2},
        {{"--check"}, usage, 2},
        {{"--status"}, "padmapw is not running in this session\n", 1},
        {{"--quit", "x"}, usage, 2},
        {{"--startup"}, usage, 2},
        {{"--startup", "off", "x.cfg"}, usage, 2},
        {{"--check", "/nonexistent/x.cfg"}, "failed to open /nonexistent/x.cfg\n", 2},
        {{"--check", good}, good + ": hardware id kbd, 1 key mapped, 0 findings\n", 0},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args[0] + " " + (r.args.size() > 1 ? r.args[1] : ""));
        sim_reset();
        sim_declare_device(1, "kbd");
        run_options options;
        options.args = r.args;
        program_run run = run_program({press(1, 0x3A)}, "", options);
        EXPECT_EQ(r.status, run.status);
        EXPECT_EQ(r.output, run.output.substr(0, r.output.size()));
        EXPECT_EQ(0, sim_open_count()) << "the driver was opened";
    }
    std::remove(good.c_str());
}

// Every run mode says what stops it from using the driver, and ends with 1.
TEST(Entry, SaysWhyTheDriverCannotBeUsed) {
    const std::string config = write_config("kbd\nCaps Backspace\n");
    // clang-format off
    const struct {
        const char* what;
        int held_elsewhere;  // a declared keyboard another program holds; 0 none
        bool declared;       // keyboard 1 exists
        sim_step failing;    // sim_step_count: none
        const char* message;
    } rows[] = {
        {"no driver", 0, false, sim_step_count, "keyboard filter driver not found\n"},
        {"a second padmap", 1, true, sim_step_count,
         "keyboard filter driver is in use by another program (is padmap running already?)\n"},
        {"no event", 0, true, sim_step_event, "keyboard filter driver cannot be set up\n"},
        {"refused event", 0, true, sim_step_set_event, "keyboard filter driver cannot be set up\n"},
    };
    // clang-format on
    const struct {
        const char* mode;
        std::vector<std::string> args;
        std::string before;
    } modes[] = {{"identify", {}, banner},
                 {"remap", {config}, banner + "Caps->Backspace\n"},
                 {"monitor", {"--monitor"}, banner}};
    for (const auto& m : modes) {
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(m.mode) + ", " + r.what);
            sim_reset();
            if (r.declared) sim_declare_device(1, "kbd");
            if (r.held_elsewhere != 0) sim_hold_elsewhere(r.held_elsewhere);
            if (r.failing != sim_step_count) sim_fail_at(r.failing, 1);
            run_options options;
            options.args = m.args;
            program_run run = run_program({press(1, 0x3A)}, "", options);
            EXPECT_EQ(1, run.status);
            EXPECT_EQ(m.before + r.message, run.output);
            EXPECT_TRUE(run.typed_at.empty());
            expect_nothing_left();
        }
    }
    std::remove(config.c_str());
}

TEST(Entry, AFailedLoadExitsWithOneBeforeAnyFilterIsSet) {
    sim_reset();
    sim_declare_device(1, "kbd");
    program_run run = run_program({press(1, 0x1E)}, "/nonexistent/padmap.cfg");
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(banner + "failed to open /nonexistent/padmap.cfg\n", run.output);
    EXPECT_EQ(0, requests_with_code(ctl_set_filter));
    sim_reset();
}

// The id is asked of every keyboard at the start and anew for every stroke
// padmap captures; only the configured keyboard is captured. A driver may
// answer the id without its terminator: the text then ends where the answer
// ends, not at whatever an earlier, longer id left in the buffer.
TEST(Entry, RemapTranslatesTheKeyboardWhoseIdIsConfiguredAndReleasesEverything) {
    const std::vector<sim_typed> alternating = {press(1, 0x3A), press(2, 0x3A), press(1, 0x3A),
                                                press(2, 0x3A), press(1, 0x3A), press(2, 0x3A)};
    const std::vector<sim_typed> longer_id_first = {press(2, 0x1E), press(1, 0x3A)};
    // clang-format off
    const struct {
        const char* configured;
        bool omit_terminator;
        std::vector<sim_typed> typed;
        std::vector<sim_typed> delivered;
        uint16_t filters[2];
        int id_requests;  // two at the start, one per captured stroke
    } rows[] = {
        {"kbd", false, alternating,
         {press(1, 0x0E), press(2, 0x3A), press(1, 0x0E), press(2, 0x3A), press(1, 0x0E), press(2, 0x3A),
          release(1, 0x0E)}, {0xFFFF, 0}, 5},
        {"kbd", true, longer_id_first, {press(2, 0x1E), press(1, 0x0E), release(1, 0x0E)}, {0xFFFF, 0}, 3},
        {"kbd-long", true, longer_id_first, {press(2, 0x1E), press(1, 0x3A)}, {0, 0xFFFF}, 3},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.configured) + (r.omit_terminator ? ", no terminator" : ""));
        sim_reset();
        sim_declare_device(1, "kbd");
        sim_declare_device(2, "kbd-long");
        if (r.omit_terminator) sim_omit_id_terminator(1);
        const std::string config = write_config(std::string(r.configured) + "\nCaps Backspace\n");
        program_run run = run_program(r.typed, config);
        std::remove(config.c_str());
        EXPECT_EQ(0, run.status);
        EXPECT_EQ(r.filters[0], sim_filter(1));
        EXPECT_EQ(r.filters[1], sim_filter(2));
        EXPECT_EQ(r.id_requests, requests_with_code(ctl_get_hardware_id));
        EXPECT_EQ(describe(r.delivered), describe(run.delivered));
        expect_nothing_left();
    }
}

// Pause sends an E1 stroke and then 0045: both pass on as they are, however
// left Ctrl and Num Lock are mapped. Each keyboard has its own second half.
TEST(Entry, RemapPassesPauseOnAsItIs) {
    sim_reset();
    sim_declare_device(1, "kbd");
    sim_declare_device(2, "kbd");
    const std::string config = write_config("kbd\nLCtrl A\nNumLock B\n");
    const auto stroke = [](int device, uint16_t make, uint16_t state) {
        return sim_typed{device, key_stroke{make, state, 0}};
    };
    const std::vector<sim_typed> typed = {
        stroke(1, 0x1D, 0x04), stroke(2, 0x45, 0x00), stroke(1, 0x45, 0x00), stroke(2, 0x45, 0x01),
        stroke(1, 0x1D, 0x05), stroke(1, 0x45, 0x01), stroke(1, 0x45, 0x00), stroke(1, 0x45, 0x01),
        stroke(1, 0x1D, 0x00), stroke(1, 0x1D, 0x01),
    };
    program_run run = run_program(typed, config);
    std::remove(config.c_str());
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(banner +
                  "LCtrl->A\nNumLock->B\n"
                  "bypassing key 001d\n"
                  "DOWN pressed key=NumLock 0045 -> 0030: 0030 down-\n"
                  "bypassing key 0045\n"
                  "UP remapping pressed key=NumLock 0045 -> 0030: 0030 up\n"
                  "bypassing key 001d\n"
                  "bypassing key 0045\n"
                  "DOWN pressed key=NumLock 0045 -> 0030: 0030 down-\n"
                  "UP remapping pressed key=NumLock 0045 -> 0030: 0030 up\n"
                  "DOWN pressed key=LCtrl 001d -> 001e: 001e down-\n"
                  "UP remapping pressed key=LCtrl 001d -> 001e: 001e up\n",
              run.output);
    EXPECT_EQ(describe({stroke(1, 0x1D, 0x04), stroke(2, 0x30, 0x00), stroke(1, 0x45, 0x00), stroke(2, 0x30, 0x01),
                        stroke(1, 0x1D, 0x05), stroke(1, 0x45, 0x01), stroke(1, 0x30, 0x00), stroke(1, 0x30, 0x01),
                        stroke(1, 0x1E, 0x00), stroke(1, 0x1E, 0x01)}),
              describe(run.delivered));
    expect_nothing_left();
}

}  // namespace
