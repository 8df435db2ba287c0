// Every step the driver can fail, at every occurrence a session reaches: the
// program must keep its promises anyway. The expected run is derived from a
// run without failure and from what the driver reports (which step attempts
// happened, which devices were given a filter), not written out by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/translate.h"
#include "driver/control_codes.h"
#include "driver/device_set.h"
#include "driver/sim.h"
#include "keymap/config.h"
#include "keymap/key_table.h"

namespace {

const char configured_id[] = "HID\\VID_04D9&PID_1702";
const char other_id[] = "HID\\VID_046D&PID_C31C";

const char config_text[] =
    "HID\\VID_04D9&PID_1702\n"
    "Caps Backspace\n"
    "F1 C-C\n"
    "A S-B,rA-Enter,C-A-Right\n"
    "Insert Right\n";

struct declared_device {
    int device;
    const char* id;  // null: no hardware id
};

const declared_device session_devices[] = {
    {1, configured_id}, {2, other_id}, {3, nullptr}, {11, "HID\\VID_046D&PID_C077"}};

constexpr uint16_t up = key_state_up;
constexpr uint16_t e0 = key_state_e0;

// The configured keyboard's mapped and unmapped keys, interleaved with the
// other keyboards, including a press of one key held across another's.
const sim_typed session[] = {
    {1, {0x3A, 0, 1}},       {2, {0x1E, 0, 2}},       {1, {0x3A, up, 3}},
    {2, {0x1E, up, 4}},      {1, {0x3B, 0, 0}},       {1, {0x3B, up, 0}},
    {3, {0x2D, 0, 0}},       {3, {0x2D, up, 0}},      {1, {0x10, 0, 5}},
    {1, {0x10, up, 5}},      {1, {0x1E, 0, 6}},       {1, {0x1E, up, 6}},
    {1, {0x52, e0, 0}},      {2, {0x52, e0, 0}},      {1, {0x52, e0 | up, 0}},
    {2, {0x52, e0 | up, 0}},
};
constexpr int session_length = sizeof session / sizeof session[0];

constexpr char marker = '\x01';

struct delivered_stroke {
    int device;
    key_stroke key;
    bool written;  // false: reached the system without the program's doing
};

bool same_stroke(const delivered_stroke& a, const delivered_stroke& b) {
    return a.device == b.device && a.key.make_code == b.key.make_code &&
           a.key.key_state == b.key.key_state && a.key.extra_info == b.key.extra_info;
}

std::string describe(const std::vector<delivered_stroke>& strokes) {
    std::string text;
    char line[48];
    for (const delivered_stroke& s : strokes) {
        std::snprintf(line, sizeof line, "%d %04x %04x %08lx\n", s.device,
                      static_cast<unsigned>(s.key.make_code), static_cast<unsigned>(s.key.key_state),
                      static_cast<unsigned long>(s.key.extra_info));
        text += line;
    }
    return text;
}

struct run_record {
    int status = -1;
    int open_handles = 0;
    int live_blocks = 0;
    int typed = 0;
    int calls[sim_step_count] = {};
    bool filtered[device_count + 1] = {};  // by device number: given a non-zero filter
    // The stroke each delivery followed: delivery k came while typed stroke
    // group[k] was being handled.
    std::vector<delivered_stroke> delivered;
    std::vector<int> group;
    std::string output;
};

run_record* recording;

// Called by the driver each time it types; the marker splits the console
// output into the part each typed stroke caused.
bool type_next(void*, sim_typed* next) {
    if (recording->typed >= session_length) return false;
    *next = session[recording->typed];
    std::printf("%c%d\n", marker, recording->typed);
    std::fflush(stdout);
    ++recording->typed;
    return true;
}

void note_delivery(void*, int device, const key_stroke* key) {
    delivered_stroke s = {device, *key, true};
    recording->delivered.push_back(s);
    recording->group.push_back(recording->typed - 1);
}

std::string config_path() {
    return testing::TempDir() + "padmap-failure-injection.cfg";
}

void write_config() {
    std::FILE* file = std::fopen(config_path().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(config_text, file);
    std::fclose(file);
}

run_record run_padmap(bool identify, int fail_step, int occurrence) {
    run_record record;
    recording = &record;
    sim_reset();
    reset_key_table();
    reset_config();
    for (const declared_device& d : session_devices) sim_declare_device(d.device, d.id);
    if (fail_step >= 0) sim_fail_at(static_cast<sim_step>(fail_step), occurrence);
    sim_set_source(type_next, nullptr);
    sim_set_sink(note_delivery, nullptr);

    std::string path8 = config_path();
    std::u16string path(path8.begin(), path8.end());
    const char16_t* argv[] = {u"padmap", path.c_str(), nullptr};
    testing::internal::CaptureStdout();
    record.status = padmap_main(identify ? 1 : 2, argv);
    record.output = testing::internal::GetCapturedStdout();

    record.open_handles = sim_open_handles();
    record.live_blocks = sim_live_blocks();
    for (int s = 0; s < sim_step_count; ++s) record.calls[s] = sim_step_calls(static_cast<sim_step>(s));
    const sim_request* requests = sim_requests();
    for (int i = 0; i < sim_request_count() && i < sim_max_requests; ++i) {
        if (requests[i].code == ctl_set_filter && requests[i].device > 0 && requests[i].device <= device_count &&
            (requests[i].input[0] | requests[i].input[1]) != 0) {
            record.filtered[requests[i].device] = true;
        }
    }
    sim_set_source(nullptr, nullptr);
    sim_set_sink(nullptr, nullptr);
    recording = nullptr;
    return record;
}

// The console output before the first stroke, and after each typed stroke.
struct split_output {
    std::string before;
    std::vector<std::string> after;
};

split_output split(const std::string& output) {
    split_output parts;
    size_t at = output.find(marker);
    parts.before = output.substr(0, at);
    while (at != std::string::npos) {
        size_t text = output.find('\n', at) + 1;
        size_t next = output.find(marker, text);
        parts.after.push_back(output.substr(text, next == std::string::npos ? std::string::npos : next - text));
        at = next;
    }
    return parts;
}

std::string marked(int index) {
    char line[16];
    std::snprintf(line, sizeof line, "%c%d\n", marker, index);
    return line;
}

const char* id_of(int device) {
    for (const declared_device& d : session_devices) {
        if (d.device == device) return d.id;
    }
    return nullptr;
}

const char* const step_names[sim_step_count] = {"open", "event", "set-event", "alloc",
                                                "read", "write", "hardware-id", "wait"};

struct expectation {
    std::vector<delivered_stroke> delivered;
    std::string output;
};

// How many strokes a remap run must read. The loop may end early only where
// a read cannot happen: at a failed wait, a failed read, or a failed
// allocation for a read (then the last allocation tried); with no device set
// at all nothing is typed. Anything else must read every stroke of a keyboard
// the program captures.
int expect_reads(const run_record& run, int step, int occurrence) {
    bool hit = run.calls[step] >= occurrence;
    int captured = 0;
    for (const sim_typed& t : session) captured += run.filtered[t.device] ? 1 : 0;
    if (captured == 0 && run.calls[sim_step_wait] == 0) {
        EXPECT_EQ(run.typed, 0);
        return 0;
    }
    if (hit && (step == sim_step_wait || step == sim_step_read)) {
        EXPECT_EQ(run.calls[step], occurrence) << "the loop went on after the failure";
        return occurrence - 1;
    }
    int reads = run.calls[sim_step_read];
    if (hit && step == sim_step_alloc && reads < captured) {
        EXPECT_EQ(run.calls[sim_step_alloc], occurrence) << "the loop ended without a failed read";
        return reads;
    }
    EXPECT_EQ(run.typed, session_length) << "the loop ended early";
    EXPECT_EQ(reads, captured) << "a captured stroke was not read";
    return captured;
}

// What a remap run with the given failure must produce. The driver types the
// same strokes in the same order as in the clean run; only their handling may
// differ:
// - a stroke on a keyboard that got no filter goes straight to the system;
// - strokes are read in the order typed; a stroke typed but not read is
//   neither delivered nor logged;
// - a failed hardware-id request makes that stroke one of another keyboard:
//   sent back unchanged and not logged;
// - a failed write loses that one stroke; a failed allocation in a send loses
//   that one stroke without a write; everything after it is still sent.
expectation expect_remap(const run_record& clean, const run_record& run, int step, int occurrence) {
    bool hit = run.calls[step] >= occurrence;
    split_output clean_text = split(clean.output);
    int reads = expect_reads(run, step, occurrence);
    int failed_id_read = hit && step == sim_step_hardware_id ? occurrence - 1 : -1;

    expectation e;
    e.output = clean_text.before;
    int read = 0;
    for (int i = 0; i < run.typed; ++i) {
        const sim_typed& t = session[i];
        delivered_stroke itself = {t.device, t.key, false};
        e.output += marked(i);
        if (!run.filtered[t.device]) {
            e.delivered.push_back(itself);
            continue;
        }
        if (read >= reads) continue;
        if (read++ == failed_id_read) {
            itself.written = true;
            e.delivered.push_back(itself);
            continue;
        }
        e.output += clean_text.after[i];
        for (size_t k = 0; k < clean.delivered.size(); ++k) {
            if (clean.group[k] == i) e.delivered.push_back(clean.delivered[k]);
        }
    }

    int writes_due = 0;
    for (const delivered_stroke& s : e.delivered) writes_due += s.written ? 1 : 0;
    int lost_write = -1;
    if (hit && step == sim_step_write) lost_write = occurrence - 1;
    if (hit && step == sim_step_alloc && writes_due > run.calls[sim_step_write]) {
        // Which send lost its record follows from the first stroke missing.
        int position = 0;
        for (size_t k = 0; k < e.delivered.size() && k < run.delivered.size(); ++k) {
            if (!same_stroke(e.delivered[k], run.delivered[k])) break;
            position += e.delivered[k].written ? 1 : 0;
        }
        lost_write = position;
    }
    if (lost_write >= 0) {
        int seen = 0;
        for (size_t k = 0; k < e.delivered.size(); ++k) {
            if (!e.delivered[k].written) continue;
            if (seen++ == lost_write) {
                e.delivered.erase(e.delivered.begin() + static_cast<long>(k));
                break;
            }
        }
    }
    return e;
}

// Identify mode reads the first stroke of a filtered keyboard, sends nothing
// back and prints the id of its keyboard, or the refusal when the id request
// fails or there is no id.
expectation expect_identify(const run_record& clean, const run_record& run, int step, int occurrence) {
    bool hit = run.calls[step] >= occurrence;
    expectation e;
    e.output = split(clean.output).before;
    int reads = run.calls[sim_step_read] - (hit && step == sim_step_read ? 1 : 0);
    bool may_miss = hit && (step == sim_step_wait || step == sim_step_read || step == sim_step_alloc);
    if (!may_miss && run.calls[sim_step_wait] > 0) {
        EXPECT_EQ(reads, 1) << "no stroke was read";
    }
    for (int i = 0; i < run.typed; ++i) {
        const sim_typed& t = session[i];
        e.output += marked(i);
        if (!run.filtered[t.device]) {
            e.delivered.push_back({t.device, t.key, false});
            continue;
        }
        if (reads < 1) break;
        const char* id = id_of(t.device);
        if (id == nullptr || (hit && step == sim_step_hardware_id)) {
            e.output += "BAD hardware_id, exiting...\n";
        } else {
            e.output += std::string("hardware id is ") + id + "\n";
        }
        break;
    }
    return e;
}

void check_run(const run_record& run, const expectation& e) {
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.open_handles, 0) << "a handle is left open at exit";
    EXPECT_EQ(run.live_blocks, 0) << "a heap block is left at exit";
    EXPECT_EQ(run.output, e.output);
    EXPECT_EQ(describe(run.delivered), describe(e.delivered));
}

bool is_modifier(const key_stroke& key) {
    for (const key_stroke& m : modifier_strokes) {
        if (m.make_code == key.make_code && m.key_state == key.key_state && m.extra_info == key.extra_info) {
            return true;
        }
    }
    return false;
}

// The run without failure is the reference for the others, so it is checked
// on its own first: a stroke that is logged as passed on, or not logged at
// all, reaches the system exactly once as itself; a translated one is never
// forwarded as well (no key of the session maps to itself) and sends one
// output key per log line.
void check_clean_handling(const run_record& clean) {
    split_output text = split(clean.output);
    ASSERT_EQ(text.after.size(), static_cast<size_t>(session_length));
    for (int i = 0; i < session_length; ++i) {
        SCOPED_TRACE("stroke " + std::to_string(i));
        delivered_stroke itself = {session[i].device, session[i].key, true};
        std::vector<delivered_stroke> group;
        for (size_t k = 0; k < clean.delivered.size(); ++k) {
            if (clean.group[k] == i) group.push_back(clean.delivered[k]);
        }
        const std::string& log = text.after[i];
        if (log.empty() || log.rfind("bypassing key ", 0) == 0) {
            EXPECT_EQ(describe(group), describe({itself}));
            continue;
        }
        size_t lines = 0;
        for (char c : log) lines += c == '\n' ? 1 : 0;
        size_t outputs = 0;
        for (const delivered_stroke& d : group) {
            EXPECT_FALSE(same_stroke(d, itself)) << "a translated stroke was also forwarded";
            outputs += is_modifier(d.key) ? 0 : 1;
        }
        EXPECT_EQ(outputs, lines);
    }
}

// A modifier pressed around an output must be released by the same stroke's
// handling, or it stays down on the system.
void check_modifiers_released(const run_record& clean) {
    for (int i = 0; i < session_length; ++i) {
        int down[8] = {};
        for (size_t k = 0; k < clean.delivered.size(); ++k) {
            if (clean.group[k] != i) continue;
            for (int bit = 0; bit < 8; ++bit) {
                const key_stroke& press = modifier_strokes[2 * bit];
                const key_stroke& release = modifier_strokes[2 * bit + 1];
                const key_stroke& got = clean.delivered[k].key;
                if (got.make_code == press.make_code && got.key_state == press.key_state) ++down[bit];
                if (got.make_code == release.make_code && got.key_state == release.key_state) --down[bit];
            }
        }
        for (int bit = 0; bit < 8; ++bit) {
            EXPECT_EQ(down[bit], 0) << "stroke " << i << " leaves modifier bit " << bit << " down";
        }
    }
}

struct mode_case {
    const char* name;
    bool identify;
};

const mode_case modes[] = {{"remap", false}, {"identify", true}};

TEST(FailureInjection, EveryStepAtEveryOccurrence) {
    write_config();
    for (const mode_case& mode : modes) {
        SCOPED_TRACE(mode.name);
        run_record clean = run_padmap(mode.identify, -1, 0);
        ASSERT_EQ(clean.status, 0);
        ASSERT_EQ(clean.open_handles, 0);
        ASSERT_EQ(clean.live_blocks, 0);
        ASSERT_LT(sim_request_count(), sim_max_requests);
        if (mode.identify) {
            ASSERT_EQ(split(clean.output).after.size(), 1u);
            EXPECT_EQ(split(clean.output).after[0], std::string("hardware id is ") + configured_id + "\n");
        } else {
            ASSERT_EQ(clean.typed, session_length);
            check_clean_handling(clean);
            check_modifiers_released(clean);
            // Otherwise some step would never be put to the test.
            for (int step = 0; step < sim_step_count; ++step) {
                EXPECT_GT(clean.calls[step], 0) << step_names[step];
            }
        }
        for (int step = 0; step < sim_step_count; ++step) {
            // One occurrence past the last also runs: a failure that never comes
            // must change nothing.
            for (int occurrence = 1; occurrence <= clean.calls[step] + 1; ++occurrence) {
                SCOPED_TRACE(std::string(step_names[step]) + " #" + std::to_string(occurrence));
                run_record run = run_padmap(mode.identify, step, occurrence);
                ASSERT_LE(run.typed, session_length);
                check_run(run, mode.identify ? expect_identify(clean, run, step, occurrence)
                                             : expect_remap(clean, run, step, occurrence));
                if (HasFailure()) return;
            }
        }
    }
    std::remove(config_path().c_str());
}

}  // namespace
