#include "app/watcher.h"

#include <cstdio>
#include <memory>

#include "driver/strokes.h"
#include "engine/actions.h"

void reset_restart_record(restart_record* record) {
    record->count = 0;
    record->delay_ms = 0;
}

int64_t restart_delay(restart_record* record, uint64_t now_ms) {
    int kept = 0;
    for (int i = 0; i < record->count; ++i) {
        if (now_ms - record->ends[i] < restart_window_ms) record->ends[kept++] = record->ends[i];
    }
    // A record asked again after it said to stop keeps its latest ends.
    if (kept == restart_ends_allowed + 1) {
        for (int i = 1; i < kept; ++i) record->ends[i - 1] = record->ends[i];
        --kept;
    }
    record->count = kept;
    record->ends[record->count++] = now_ms;
    if (record->count > restart_ends_allowed) return -1;
    uint64_t delay = record->count == 1 ? restart_first_delay_ms : record->delay_ms * 2;
    if (delay > restart_longest_delay_ms) delay = restart_longest_delay_ms;
    record->delay_ms = delay;
    return static_cast<int64_t>(delay);
}

namespace {

struct known_code {
    uint32_t code;
    const char* words;
};

// The status codes a process ends with when it crashes or is stopped from
// outside, as Windows names them.
const known_code known_codes[] = {
    {0xC0000005, "access violation"}, {0xC000001D, "illegal instruction"},  {0xC0000094, "integer division by zero"},
    {0xC00000FD, "stack overflow"},   {0xC0000409, "stack buffer overrun"}, {0xC0000374, "heap corruption"},
    {0xC0000017, "out of memory"},    {0xC000013A, "stopped by Ctrl+C"},    {0x40010004, "the debugger ended it"},
    {0x80000003, "breakpoint"},
};

std::string hex_code(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(code));
    return text;
}

std::string key_name(int device, const key_stroke& key) {
    char text[32];
    std::snprintf(text, sizeof text, "keyboard %d %s%02x", device, (key.key_state & key_state_e0) ? "e0" : "00",
                  static_cast<unsigned>(key.make_code));
    return text;
}

}  // namespace

std::string exit_cause(uint32_t code) {
    for (const known_code& known : known_codes) {
        if (known.code == code) return std::string(known.words) + " (exit code " + hex_code(code) + ")";
    }
    return "exit code " + (code > 0xFFFF ? hex_code(code) : std::to_string(code));
}

std::string loop_ended_line(uint32_t exit_code) {
    return "the key loop ended unexpectedly: " + exit_cause(exit_code) + "\n";
}

std::string restart_line(int64_t delay_ms) {
    if (delay_ms < 0) {
        return "the key loop ended unexpectedly " + std::to_string(restart_ends_allowed + 1) +
               " times in 10 minutes: padmap does not start it again, and the pads type as plain keyboards\n";
    }
    return "starting the key loop again in " + std::to_string((delay_ms + 999) / 1000) + " s\n";
}

int release_published(const published_keys* table, std::string* log) {
    held_outputs held;
    read_published_keys(table, &held);
    // Large (room for every key of every keyboard): on the heap.
    std::unique_ptr<engine_actions> out(new engine_actions);
    engine_actions& releases = *out;
    clear_actions(&releases);
    release_all_outputs(&held, &releases);
    if (releases.count == 0) {
        *log += "it held no key\n";
        return 0;
    }
    device_set* set = open_device_set();
    if (set == nullptr) {
        *log += "the keyboard filter driver cannot be opened: the keys it held stay down\n";
        return -1;
    }
    int released = 0;
    std::string names, refused;
    for (int i = 0; i < releases.count; ++i) {
        const action& act = releases.list[i];
        stroke out = {};
        out.key = act.key;
        if (send_stroke(set, act.device, &out) < 1) {
            refused += "the driver refused the release of " + key_name(act.device, act.key) + "\n";
            continue;
        }
        names += (released++ ? ", " : "") + key_name(act.device, act.key);
    }
    close_device_set(set);
    if (released > 0) *log += "released " + names + "\n";
    *log += refused;
    return released;
}
