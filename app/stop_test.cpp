// A stop, wherever it comes, lets the stroke in hand finish its sends, then
// releases every output key padmap holds down, and nothing else: no key padmap
// pressed stays down on the system.
#include "app/stop.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/program_run.h"

namespace {

const char configured_id[] = "HID\\VID_04D9&PID_1702";

constexpr uint16_t up = key_state_up;
constexpr uint16_t e0 = key_state_e0;

sim_typed key(uint16_t make, uint16_t state) {
    return sim_typed{1, key_stroke{make, state, 0}};
}

sim_typed interrupt() {
    sim_typed t = {};
    t.kind = sim_typed_interrupt;
    return t;
}

// Every key the sessions type is mapped, so everything delivered is an
// output of padmap's.
// clang-format off
const struct {
    const char* name;
    const char* mappings;
    std::vector<sim_typed> typed;
} sessions[] = {
    {"a key mapped to left Ctrl through a user entry, held across others",
     "#001d user1\nF5 user1\nA S-C-B,rA-Enter\nCaps Backspace\n",
     {key(0x3F, 0), key(0x1E, 0), key(0x1E, 0), key(0x3A, 0), key(0x1E, up), key(0x3A, up), key(0x3F, up)}},
    {"outputs with every modifier, auto-repeated, and E0 outputs",
     "F1 S-C-A-W-rS-rC-rA-rW-C,Right\nInsert C-Home,Num/\n",
     {key(0x3B, 0), key(0x3B, 0), key(0x52, e0), key(0x3B, 0), key(0x52, e0 | up), key(0x3B, up)}},
};
// clang-format on

// Which keys are down on the system after the deliveries, by device, make
// code and E0 flag.
std::string keys_down(const std::vector<sim_typed>& delivered) {
    std::map<std::tuple<int, int, int>, bool> down;
    for (const sim_typed& d : delivered) {
        down[{d.device, d.key.make_code, d.key.key_state & e0}] = !(d.key.key_state & up);
    }
    std::string text;
    for (const auto& k : down) {
        if (k.second) text += std::to_string(std::get<1>(k.first)) + (std::get<2>(k.first) ? "e0 " : " ");
    }
    return text;
}

// The session on a fresh driver with the configured keyboard as device 1.
program_run run_on_keyboard(const std::vector<sim_typed>& typed, const std::string& config,
                            const run_options& options = {}) {
    sim_reset();
    sim_declare_device(1, configured_id);
    return run_program(typed, config, options);
}

void expect_clean_stop(const program_run& run, const std::vector<sim_typed>& prefix) {
    EXPECT_EQ(run.status, 0);
    expect_nothing_left();
    ASSERT_LE(prefix.size(), run.delivered.size());
    EXPECT_EQ(describe(prefix), describe({run.delivered.begin(), run.delivered.begin() + prefix.size()}));
    for (size_t k = prefix.size(); k < run.delivered.size(); ++k) {
        EXPECT_TRUE(run.delivered[k].key.key_state & up) << "a press after the stop: delivery " << k;
    }
    EXPECT_EQ(keys_down(run.delivered), "");
}

TEST(Stop, AnInterruptBetweenAnyTwoStrokesReleasesEveryHeldOutput) {
    for (const auto& s : sessions) {
        SCOPED_TRACE(s.name);
        const std::string config = write_config(std::string(configured_id) + "\n" + s.mappings);
        program_run clean = run_on_keyboard(s.typed, config);
        const std::vector<std::string> clean_parts = output_parts(clean);
        for (size_t at = 0; at <= s.typed.size(); ++at) {
            SCOPED_TRACE("interrupt before stroke " + std::to_string(at));
            std::vector<sim_typed> typed(s.typed.begin(), s.typed.begin() + at);
            typed.push_back(interrupt());
            typed.insert(typed.end(), s.typed.begin() + at, s.typed.end());
            program_run run = run_on_keyboard(typed, config);
            EXPECT_EQ(run.typed_at.size(), at + 1) << "strokes were typed after the interrupt";
            std::vector<sim_typed> before;
            for (size_t k = 0; k < clean.delivered.size(); ++k) {
                if (clean.during[k] >= 0 && clean.during[k] < static_cast<int>(at))
                    before.push_back(clean.delivered[k]);
            }
            expect_clean_stop(run, before);
            std::string logged;
            for (size_t i = 0; i <= at; ++i) logged += clean_parts[i];
            EXPECT_EQ(run.output, logged);
            if (HasFailure()) return;
        }
        std::remove(config.c_str());
    }
}

// A stop asked for while a stroke is being sent (as the console's handler
// thread may) waits for the whole stroke: its modifiers are released too.
TEST(Stop, AStopInTheMiddleOfAStrokeLetsItFinish) {
    for (const auto& s : sessions) {
        SCOPED_TRACE(s.name);
        const std::string config = write_config(std::string(configured_id) + "\n" + s.mappings);
        program_run clean = run_on_keyboard(s.typed, config);
        for (size_t at = 0; at < clean.delivered.size(); ++at) {
            if (clean.during[at] < 0) break;
            SCOPED_TRACE("stop during delivery " + std::to_string(at));
            run_options options;
            options.stop_at_delivery = at;
            program_run run = run_on_keyboard(s.typed, config, options);
            std::vector<sim_typed> stroke_done;
            for (size_t k = 0; k < clean.delivered.size() && clean.during[k] <= clean.during[at]; ++k) {
                stroke_done.push_back(clean.delivered[k]);
            }
            expect_clean_stop(run, stroke_done);
            if (HasFailure()) return;
        }
        std::remove(config.c_str());
    }
}

}  // namespace
