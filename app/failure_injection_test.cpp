// Every step the driver can fail, at every occurrence a session reaches: the
// program must keep its promises anyway. The expected run is derived from a
// run without failure and from what the driver reports (which step attempts
// happened, which devices were given a filter), not written out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "driver/device_set.h"
#include "engine/translate.h"
#include "keymap/output_text.h"
#include "tests/support/program_run.h"

namespace {

const char configured_id[] = "HID\\VID_04D9&PID_1702";
const char mappings[] = "Caps Backspace\nF1 C-C\nA S-B,rA-Enter,C-A-Right\nInsert Right\n";

// Id null: the device has none.
// clang-format off
const struct {
    int device;
    const char* id;
} session_devices[] = {
    {1, configured_id}, {2, "HID\\VID_046D&PID_C31C"}, {3, nullptr}, {11, "HID\\VID_046D&PID_C077"}};

constexpr uint16_t up = key_state_up;
constexpr uint16_t e0 = key_state_e0;

// The configured keyboard's mapped and unmapped keys, interleaved with the
// other keyboards, including a press of one key held across another's.
const std::vector<sim_typed> session = {
    {1, {0x3A, 0, 1}},  {2, {0x1E, 0, 2}},  {1, {0x3A, up, 3}},      {2, {0x1E, up, 4}},
    {1, {0x3B, 0, 0}},  {1, {0x3B, up, 0}}, {3, {0x2D, 0, 0}},       {3, {0x2D, up, 0}},
    {1, {0x10, 0, 5}},  {1, {0x10, up, 5}}, {1, {0x1E, 0, 6}},       {1, {0x1E, up, 6}},
    {1, {0x52, e0, 0}}, {2, {0x52, e0, 0}}, {1, {0x52, e0 | up, 0}}, {2, {0x52, e0 | up, 0}},
};
// clang-format on

const char* const step_names[sim_step_count] = {"open",  "event",       "set-event", "alloc",       "read",
                                                "write", "hardware-id", "wait",      "folder-watch"};

program_run run_padmap(const std::string& config, int fail_step, int occurrence) {
    sim_reset();
    for (const auto& d : session_devices) sim_declare_device(d.device, d.id);
    if (fail_step >= 0) sim_fail_at(static_cast<sim_step>(fail_step), occurrence);
    return run_program(session, config);
}

// Remap mode captures a keyboard from the start when a configuration names
// it or its id cannot be read; it asks the keyboards in device order. A
// keyboard captured only because its id request failed is let go at its
// first stroke (whose id then comes back, and names no file). Identify mode
// captures every keyboard. Which strokes of the session are captured, given
// which device's open fails and which id request fails (0: none). A device
// that did not open does not exist for padmap.
std::vector<bool> captured_strokes(bool identify, int failed_open, int failed_id_request) {
    bool capturing[keyboard_count + 1] = {};
    int asked = 0;
    for (const auto& d : session_devices) {
        if (d.device > keyboard_count || d.device == failed_open) continue;
        ++asked;
        bool usable = d.id != nullptr && asked != failed_id_request;
        capturing[d.device] = identify || !usable || std::string(d.id) == configured_id;
    }
    std::vector<bool> captured;
    for (const sim_typed& t : session) {
        captured.push_back(capturing[t.device]);
        const char* id = nullptr;
        for (const auto& d : session_devices) id = d.device == t.device ? d.id : id;
        if (!identify && id != nullptr && std::string(id) != configured_id) capturing[t.device] = false;
    }
    return captured;
}

// The id requests remap mode makes before the first stroke: one per keyboard
// that opened.
int initial_id_requests(bool identify, int failed_open) {
    if (identify) return 0;
    return static_cast<int>(
        std::count_if(std::begin(session_devices), std::end(session_devices),
                      [failed_open](const auto& d) { return d.device <= keyboard_count && d.device != failed_open; }));
}

std::vector<sim_typed> handled_during(const program_run& run, int stroke) {
    std::vector<sim_typed> group;
    for (size_t k = 0; k < run.delivered.size(); ++k) {
        if (run.during[k] == stroke) group.push_back(run.delivered[k]);
    }
    return group;
}

// How many strokes a run must read. Identify mode reads one unless the wait,
// the read or its allocation fails. A remap loop may end early only where a
// read cannot happen: at a failed wait, a failed read, or a failed allocation
// for a read (after which only the releases of held keys are sent, as the
// deliveries show); with no device set at all nothing is typed. Anything else must read every stroke of a keyboard the
// program captures.
int expect_reads(const program_run& run, bool identify, int step, int occurrence,
                 const std::vector<bool>& captured_at) {
    bool hit = run.calls[step] >= occurrence;
    if (identify) {
        int reads = run.calls[sim_step_read] - (hit && step == sim_step_read ? 1 : 0);
        bool may_miss = hit && (step == sim_step_wait || step == sim_step_read || step == sim_step_alloc);
        if (!may_miss && run.calls[sim_step_wait] > 0) {
            EXPECT_EQ(reads, 1) << "no stroke was read";
        }
        return reads;
    }
    int captured = static_cast<int>(std::count(captured_at.begin(), captured_at.end(), true));
    if (captured == 0 && run.calls[sim_step_wait] == 0) {
        EXPECT_EQ(run.typed_at.size(), 0u);
        return 0;
    }
    if (hit && (step == sim_step_wait || step == sim_step_read)) {
        EXPECT_EQ(run.calls[step], occurrence) << "the loop went on after the failure";
        return occurrence - 1;
    }
    int reads = run.calls[sim_step_read];
    if (hit && step == sim_step_alloc && reads < captured) return reads;
    EXPECT_EQ(run.typed_at.size(), session.size()) << "the loop ended early";
    EXPECT_EQ(reads, captured) << "a captured stroke was not read";
    return captured;
}

struct expectation {
    std::vector<std::string> output;  // as output_parts gives it
    std::vector<sim_typed> delivered;
    int status;
};

// What a run with the given failure must produce. When the device set cannot
// be opened (its allocation, an event or a set-event request fails) the run
// says so and ends with status 1 before anything is typed. Otherwise the
// driver types the same strokes in the same order as in the clean run; only
// their handling may differ:
// - a stroke on a keyboard that got no filter goes straight to the system;
// - strokes are read in the order typed; a stroke typed but not read is
//   neither delivered nor logged; a keyboard captured only because its id
//   could not be read at the start passes its first stroke on unchanged and
//   is captured no more;
// - identify mode ends at the first stroke of a filtered keyboard, sends
//   nothing back and prints the id of its keyboard, or the refusal when the id
//   request fails or there is no id;
// - in remap mode a failed hardware-id request makes that stroke one of
//   another keyboard: sent back unchanged and not logged; the release of a
//   key so pressed passes on unchanged too, logged as bypassed;
// - a failed write loses that one stroke; a failed allocation in a send loses
//   that one stroke without a write; everything after it is still sent;
// - at the end every output key left down (its release lost, or the loop
//   ended early) is released, keyboard by keyboard, plain keys before E0 keys,
//   each in code order;
// - a loop ended by a failed wait or read (or no memory for a read) says so
//   last, with the system's words, and ends with status 1;
// - a folder that cannot be watched is said before the first stroke;
// - remap mode's last event is its notice queue's: without it the session's
//   news is not heard, and nothing of this session changes.
expectation expect_run(const program_run& clean, const program_run& run, bool identify, int step, int occurrence,
                       const std::string& config) {
    bool notices_event = !identify && step == sim_step_event && occurrence == clean.calls[step];
    bool hit = run.calls[step] >= occurrence && !notices_event;
    std::vector<std::string> clean_text = output_parts(clean);
    bool no_set =
        hit && (step == sim_step_event || step == sim_step_set_event || (step == sim_step_alloc && occurrence == 1));
    if (no_set) return {{clean_text[0] + "keyboard filter driver cannot be set up\n"}, {}, 1};
    // Devices open in number order, all 20 of them tried.
    int failed_open = hit && step == sim_step_open ? occurrence : 0;
    int initial = initial_id_requests(identify, failed_open);
    int failed_id_request = hit && step == sim_step_hardware_id ? occurrence : 0;
    const std::vector<bool> captured_at =
        captured_strokes(identify, failed_open, failed_id_request <= initial ? failed_id_request : 0);
    int reads = expect_reads(run, identify, step, occurrence, captured_at);
    int failed_id_read = failed_id_request > initial ? failed_id_request - initial - 1 : -1;

    expectation e = {{clean_text[0]}, {}, 0};
    // A folder that cannot be watched is said before the first stroke.
    if (hit && step == sim_step_folder_watch) {
        e.output[0] += "cannot watch the folder " + config.substr(0, config.rfind('/')) + " (" + config +
                       "): saves there are not read until padmap can watch it again\n";
    }
    std::vector<bool> output;    // per expected delivery: an output of a translated stroke
    std::vector<bool> written;   // ... written by padmap (not typed straight to the system)
    std::vector<int> stroke_of;  // ... the typed stroke it was made for
    struct {
        int device;
        uint16_t code;
    } unmatched = {0, 0};  // a press passed on for want of its id
    for (int i = 0, read = 0; i < static_cast<int>(run.typed_at.size()); ++i) {
        e.output.push_back("");
        if (!captured_at[i]) {
            e.delivered.push_back(session[i]);
            output.push_back(false);
            written.push_back(false);
            stroke_of.push_back(i);
            continue;
        }
        if (identify) {
            const char* id = nullptr;
            for (const auto& d : session_devices) id = d.device == session[i].device ? d.id : id;
            bool refused = id == nullptr || (hit && step == sim_step_hardware_id);
            if (reads > 0) {
                e.output.back() =
                    refused ? "BAD hardware_id, exiting...\n" : std::string("hardware id is ") + id + "\n";
            }
            break;
        }
        if (read >= reads) continue;
        const key_stroke& typed = session[i].key;
        bool unmatched_release = (typed.key_state & key_state_up) && unmatched.device == session[i].device &&
                                 unmatched.code == lookup_code(typed);
        if (read++ == failed_id_read || handled_during(clean, i).empty() || unmatched_release) {
            // Passed on unchanged by padmap: a write of the stroke itself.
            // A press passed on for want of an id leaves its release
            // unmatched: that passes on too, logged as an unmapped key is.
            const char* id = nullptr;
            for (const auto& d : session_devices) id = d.device == session[i].device ? d.id : id;
            bool named = id != nullptr && std::string(id) == configured_id;
            if (read - 1 == failed_id_read && named && !(typed.key_state & key_state_up)) {
                unmatched = {session[i].device, lookup_code(typed)};
            }
            if (unmatched_release) {
                char line[32];
                std::snprintf(line, sizeof line, "bypassing key %04x\n", static_cast<unsigned>(lookup_code(typed)));
                e.output.back() = line;
                unmatched = {0, 0};
            }
            e.delivered.push_back(session[i]);
            output.push_back(false);
            written.push_back(true);
            stroke_of.push_back(i);
            continue;
        }
        e.output.back() = clean_text[i + 1];
        bool translated = !clean_text[i + 1].empty() && clean_text[i + 1].rfind("bypassing key ", 0) != 0;
        for (const sim_typed& s : handled_during(clean, i)) {
            e.delivered.push_back(s);
            output.push_back(translated);
            written.push_back(true);
            stroke_of.push_back(i);
        }
    }

    int lost_write = hit && step == sim_step_write ? occurrence - 1 : -1;
    int captured = static_cast<int>(std::count(captured_at.begin(), captured_at.end(), true));
    if (hit && step == sim_step_alloc && captured > 0 && reads == captured) {
        // The allocation was a send's: which one lost its record follows from
        // the first stroke missing.
        lost_write = 0;
        for (size_t k = 0; k < e.delivered.size() && k < run.delivered.size(); ++k) {
            if (!(e.delivered[k] == run.delivered[k])) break;
            lost_write += written[k] ? 1 : 0;
        }
    }
    for (size_t k = 0; lost_write >= 0 && k < e.delivered.size(); ++k) {
        if (!written[k] || lost_write-- != 0) continue;
        sim_typed lost = e.delivered[k];
        // The stroke's log says what did not reach the system.
        char said[96];
        std::snprintf(said, sizeof said, "%s %04x %s: it did not reach the system\n",
                      step == sim_step_write ? "the driver refused" : "no memory to send",
                      static_cast<unsigned>(lookup_code(lost.key)),
                      (lost.key.key_state & key_state_up) ? "up" : "down");
        e.output[static_cast<size_t>(stroke_of[k]) + 1] += said;
        e.delivered.erase(e.delivered.begin() + static_cast<long>(k));
        output.erase(output.begin() + static_cast<long>(k));
        written.erase(written.begin() + static_cast<long>(k));
        stroke_of.erase(stroke_of.begin() + static_cast<long>(k));
        // A modifier whose release was lost is still down: later outputs of
        // that keyboard neither press nor release it, nor name it.
        const key_stroke* modifier = std::find(modifier_strokes, modifier_strokes + 16, lost.key);
        int at = static_cast<int>(modifier - modifier_strokes);
        if (at == 16 || at % 2 == 0) break;
        const std::string tag = modifier_texts[at / 2].log_tag;
        for (size_t later = k; later < e.delivered.size();) {
            const key_stroke& key = e.delivered[later].key;
            bool wrap = output[later] && e.delivered[later].device == lost.device &&
                        (key == modifier_strokes[at - 1] || key == modifier_strokes[at]);
            if (!wrap) {
                ++later;
                continue;
            }
            std::string& log = e.output[static_cast<size_t>(stroke_of[later]) + 1];
            for (const std::string& word : {tag + "down-", tag + "up-"}) {
                for (size_t found = log.find(word); found != std::string::npos; found = log.find(word)) {
                    log.erase(found, word.size());
                }
            }
            e.delivered.erase(e.delivered.begin() + static_cast<long>(later));
            output.erase(output.begin() + static_cast<long>(later));
            written.erase(written.begin() + static_cast<long>(later));
            stroke_of.erase(stroke_of.begin() + static_cast<long>(later));
        }
        break;
    }

    std::vector<sim_typed> held;
    for (size_t k = 0; k < e.delivered.size(); ++k) {
        if (!output[k]) continue;
        const key_stroke& sent = e.delivered[k].key;
        key_stroke key = {sent.make_code, static_cast<uint16_t>(sent.key_state & key_state_e0), 0};
        auto same_key = [&](const sim_typed& h) { return h.device == e.delivered[k].device && h.key == key; };
        held.erase(std::remove_if(held.begin(), held.end(), same_key), held.end());
        if (!(e.delivered[k].key.key_state & key_state_up)) held.push_back({e.delivered[k].device, key});
    }
    std::sort(held.begin(), held.end(), [](const sim_typed& a, const sim_typed& b) {
        auto order = [](const sim_typed& t) {
            return t.device * 1024 + (t.key.key_state & key_state_e0) * 256 + t.key.make_code;
        };
        return order(a) < order(b);
    });
    for (sim_typed release : held) {
        release.key.key_state |= key_state_up;
        e.delivered.push_back(release);
    }
    bool loop_failed = hit && (step == sim_step_wait || step == sim_step_read ||
                               (step == sim_step_alloc && (identify ? reads == 0 : reads < captured)));
    if (loop_failed) {
        e.status = 1;
        e.output.back() +=
            std::string("keyboard filter driver failed while ") +
            (step == sim_step_wait ? "waiting for keys: " : "reading a key stroke: ") +
            (step == sim_step_alloc ? "Not enough memory resources are available to process this command. (error 8)\n"
                                    : "A device attached to the system is not functioning. (error 31)\n");
    }
    return e;
}

// The run without failure is the reference for the others, so it is checked
// on its own first: a stroke that is logged as passed on, or not logged at
// all, reaches the system exactly once as itself; a translated one is never
// forwarded as well (no key of the session maps to itself), sends one output
// key per log line and releases every modifier it pressed, or it stays down on
// the system.
void check_clean_remap(const program_run& clean) {
    std::vector<std::string> text = output_parts(clean);
    ASSERT_EQ(text.size(), session.size() + 1);
    for (int i = 0; i < static_cast<int>(session.size()); ++i) {
        SCOPED_TRACE("stroke " + std::to_string(i));
        std::vector<sim_typed> group = handled_during(clean, i);
        const std::string& log = text[i + 1];
        if (log.empty() || log.rfind("bypassing key ", 0) == 0) {
            EXPECT_EQ(describe(group), describe({session[i]}));
            continue;
        }
        long outputs = 0;
        int down[8] = {};
        for (const sim_typed& d : group) {
            EXPECT_FALSE(d == session[i]) << "a translated stroke was also forwarded";
            const key_stroke* modifier = std::find(modifier_strokes, modifier_strokes + 16, d.key);
            if (modifier == modifier_strokes + 16)
                ++outputs;
            else
                down[(modifier - modifier_strokes) / 2] += (modifier - modifier_strokes) % 2 ? -1 : 1;
        }
        EXPECT_EQ(outputs, std::count(log.begin(), log.end(), '\n'));
        for (int bit = 0; bit < 8; ++bit) EXPECT_EQ(down[bit], 0) << "modifier bit " << bit << " left down";
    }
}

TEST(FailureInjection, EveryStepAtEveryOccurrence) {
    const std::string config = write_config(std::string(configured_id) + "\n" + mappings);
    for (bool identify : {false, true}) {
        SCOPED_TRACE(identify ? "identify" : "remap");
        program_run clean = run_padmap(identify ? "" : config, -1, 0);
        ASSERT_EQ(clean.status, 0);
        expect_nothing_left();
        // Identify mode's reference is checked by the runs whose failure never comes.
        if (!identify) {
            check_clean_remap(clean);
            // Otherwise some step would never be put to the test.
            for (int step = 0; step < sim_step_count; ++step) EXPECT_GT(clean.calls[step], 0) << step_names[step];
        }
        ASSERT_FALSE(HasFailure());
        for (int step = 0; step < sim_step_count; ++step) {
            // One occurrence past the last also runs: a failure that never comes
            // must change nothing.
            for (int occurrence = 1; occurrence <= clean.calls[step] + 1; ++occurrence) {
                SCOPED_TRACE(std::string(step_names[step]) + " #" + std::to_string(occurrence));
                program_run run = run_padmap(identify ? "" : config, step, occurrence);
                expectation e = expect_run(clean, run, identify, step, occurrence, config);
                EXPECT_EQ(run.status, e.status);
                expect_nothing_left();
                EXPECT_EQ(output_parts(run), e.output);
                EXPECT_EQ(describe(run.delivered), describe(e.delivered));
                if (HasFailure()) return;
            }
        }
    }
    std::remove(config.c_str());
}

}  // namespace
