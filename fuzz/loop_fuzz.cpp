// The whole program through its own entry: a configuration file and a stream of
// typed strokes, with the simulated driver behind the platform seam.
//
// Input layout:
//   byte 0      bit 0: identify mode (no argument); bit 1: the configuration is
//               taken as is, otherwise the configured keyboard's id line is put
//               before it
//   bytes 1-2   length of the configuration, little-endian (cut to what is left)
//   then        the configuration bytes
//   then        5 bytes a stroke: keyboard selector, make code (low, high),
//               state, extra information
//
// Every stroke that reaches the rest of the system is checked, as it arrives,
// against what the loaded key table says it must be; a run aborts on any
// difference, on a handle or heap block left at a normal exit, and on an exit
// status other than the one the configuration calls for (1 only when the
// loader refuses it).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "engine/translate.h"
#include "keymap/config.h"
#include "keymap/key_table.h"
#include "sim/sim.h"

namespace {

const char configured_line[] = "HID\\VID_04D9&PID_1702&MI_00\n";

constexpr int long_id_length = 499;
char long_id[long_id_length + 1];

struct declared_device {
    int device;
    const char* id;  // null: the hardware-id request fails
};

// 1 is the keyboard the id line names; 5 differs from it only in case; 4's
// id fills the whole buffer, which no caller may take as an id.
const declared_device devices[] = {
    {1, "HID\\VID_04D9&PID_1702&MI_00"}, {2, "HID\\VID_046D&PID_C31C"},  {3, nullptr}, {4, long_id},
    {5, "hid\\vid_04d9&pid_1702&mi_00"}, {11, "HID\\VID_046D&PID_C077"},
};
constexpr int keyboard_choices = 5;
constexpr size_t stroke_bytes = 5;

char config_path[128];
char16_t config_path16[128];

struct delivery {
    int device;
    key_stroke key;
};

// Deliveries still due, oldest first. The driver types a stroke only when the
// previous one is handled, so one stroke's outputs (at most 16 outputs with 8
// modifier presses and releases each) are all that is ever due.
constexpr int due_capacity = 1024;
delivery due[due_capacity];
int due_head;
int due_count;

struct feed {
    const uint8_t* strokes;
    size_t count;
    size_t next;
    bool identify;
    bool identified;  // identify mode has had its key press
};

// The output keys the program holds down on the system, by keyboard and by
// make code with the E0 flag: what it must release when the run ends; and
// the keys of the configured keyboard it passed on unchanged and holds down.
bool held[11][512];
bool passed[11][512];

// The configured keyboard's keys that are down, each with the entry its press
// found (-1: none); a press while 128 are down is not noted.
constexpr int pressed_capacity = 128;
struct pressed_key {
    uint16_t code;
    int entry;
};
pressed_key pressed[pressed_capacity];
int pressed_count;

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "loop_fuzz: %s\n", what);
    std::abort();
}

void expect(int device, uint16_t make, uint16_t state, uint32_t extra) {
    require(due_count < due_capacity, "too many deliveries due at once");
    if (device <= 10 && make <= 0xFF) {
        int code = ((state & key_state_e0) ? 256 : 0) + make;
        held[device][code] = !(state & key_state_up);
        if (state & key_state_up) passed[device][code] = false;
    }
    delivery& d = due[(due_head + due_count) % due_capacity];
    d.device = device;
    d.key.make_code = make;
    d.key.key_state = state;
    d.key.extra_info = extra;
    ++due_count;
}

// The driver answers with the id and its terminator as UTF-16, capped at the
// 1000-byte buffer; only an answer of 1-999 bytes is an id.
// The configuration as the loader reads it on its own: what the program's
// handling of each stroke is checked against.
config expected_layout;

bool is_configured_keyboard(int device) {
    for (const declared_device& d : devices) {
        if (d.device != device) continue;
        if (d.id == nullptr) return false;
        size_t length = std::strlen(d.id);
        if (2 * (length + 1) > 999) return false;
        for (size_t i = 0; i <= length; ++i) {
            if (expected_layout.configured_hardware_id[i] != static_cast<unsigned char>(d.id[i])) return false;
        }
        return true;
    }
    return false;
}

uint16_t code_of(const key_stroke& key) {
    uint16_t code = key.make_code;
    if (key.key_state & key_state_e0) code = static_cast<uint16_t>(code | 0xE000);
    return code;
}

// The first entry with the stroke's code that maps it.
int entry_for(const key_stroke& key) {
    for (int i = 0; i < key_count; ++i) {
        const key_entry& entry = expected_layout.keys.entries[i];
        if (entry.scan_code == code_of(key) && entry.outputs[0] != 0) return i;
    }
    return -1;
}

// A press of a key not down notes what it found; a repeat and a release go
// by that; a release of a key whose press was not noted finds nothing.
int entry_by_press(const key_stroke& key) {
    uint16_t code = code_of(key);
    for (int i = 0; i < pressed_count; ++i) {
        if (pressed[i].code != code) continue;
        int entry = pressed[i].entry;
        if (key.key_state & key_state_up) pressed[i] = pressed[--pressed_count];
        return entry;
    }
    if (key.key_state & key_state_up) return -1;
    int entry = entry_for(key);
    if (pressed_count < pressed_capacity) pressed[pressed_count++] = pressed_key{code, entry};
    return entry;
}

bool modifier_held(int device, const key_stroke& m) {
    int code = ((m.key_state & key_state_e0) ? 256 : 0) + m.make_code;
    return held[device][code] || passed[device][code];
}

void expect_passed_on(int device, const key_stroke& key) {
    require(due_count < due_capacity, "too many deliveries due at once");
    due[(due_head + due_count) % due_capacity] = delivery{device, key};
    ++due_count;
}

// Per keyboard: its last stroke had the E1 flag. Pause sends an E1 stroke and
// then 0045 without E0; both pass on without a lookup.
bool after_e1[11];

bool is_pause_half(int device, const key_stroke& key) {
    bool e1 = (key.key_state & 0x04) != 0;
    bool second = after_e1[device] && key.make_code == 0x45 && !(key.key_state & key_state_e0);
    after_e1[device] = e1;
    return e1 || second;
}

void expect_handled(int device, const key_stroke& key) {
    bool pause = is_pause_half(device, key);
    bool configured = is_configured_keyboard(device);
    int index = configured && !pause ? entry_by_press(key) : -1;
    if (index < 0) {
        expect_passed_on(device, key);
        // A key of the configured keyboard passed on is held down by padmap.
        if (configured && !pause && key.make_code <= 0xFF) {
            int code = ((key.key_state & key_state_e0) ? 256 : 0) + key.make_code;
            bool down = !(key.key_state & key_state_up);
            passed[device][code] = down;
            // The system has one key of a code: an output of it is up too.
            if (!down) held[device][code] = false;
        }
        return;
    }
    const key_entry& entry = expected_layout.keys.entries[index];
    bool release = (key.key_state & key_state_up) != 0;
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        uint16_t out = entry.outputs[i];
        uint16_t make = static_cast<uint16_t>(out & 0xFF);
        uint16_t e0 = (out & 0xE000) ? key_state_e0 : 0;
        if (release) {
            expect(device, make, static_cast<uint16_t>(key_state_up | e0), key.extra_info);
            continue;
        }
        // A modifier padmap already holds on the keyboard is left as it is.
        uint16_t mask = entry.modifiers[i] & 0xFF;
        for (int bit = 0; bit < 8; ++bit) {
            if (modifier_held(device, modifier_strokes[2 * bit])) mask &= static_cast<uint16_t>(~(1u << bit));
        }
        for (int bit = 0; bit < 8; ++bit) {
            const key_stroke& m = modifier_strokes[2 * bit];
            if (mask & (1u << bit)) expect(device, m.make_code, m.key_state, m.extra_info);
        }
        expect(device, make, e0, key.extra_info);
        for (int bit = 0; bit < 8; ++bit) {
            const key_stroke& m = modifier_strokes[2 * bit + 1];
            if (mask & (1u << bit)) expect(device, m.make_code, m.key_state, m.extra_info);
        }
    }
}

// At the end every output key still down is released, keyboard by keyboard,
// plain keys before E0 keys, each in code order.
void expect_releases() {
    for (int device = 1; device <= 10; ++device) {
        for (int code = 0; code < 512; ++code) {
            if (held[device][code]) expect(device, code % 256, key_state_up | (code >= 256 ? key_state_e0 : 0), 0);
        }
    }
}

bool next_stroke(void* context, sim_typed* next) {
    feed* in = static_cast<feed*>(context);
    require(due_count == 0, "a stroke's outputs were not all delivered before the next was typed");
    require(!in->identified, "identify mode went on after its key press");
    if (in->next >= in->count) {
        if (!in->identify) expect_releases();
        return false;
    }
    const uint8_t* b = in->strokes + stroke_bytes * in->next++;
    next->device = devices[b[0] % keyboard_choices].device;
    next->key.make_code = static_cast<uint16_t>(b[1] | (b[2] << 8));
    next->key.key_state = b[3];
    next->key.extra_info = b[4] * 0x01010101u;
    if (!in->identify) {
        expect_handled(next->device, next->key);
    } else if (next->key.key_state & key_state_up) {
        // Releases before the key press go on to the system unchanged.
        expect_passed_on(next->device, next->key);
    } else {
        // The press names the keyboard and is kept.
        in->identified = true;
    }
    return true;
}

void check_delivery(void*, int device, const key_stroke* key) {
    require(due_count > 0, "a stroke was delivered that nothing called for");
    const delivery& d = due[due_head];
    require(d.device == device, "a stroke was delivered to the wrong device");
    require(
        d.key.make_code == key->make_code && d.key.key_state == key->key_state && d.key.extra_info == key->extra_info,
        "a delivered stroke differs from the one due");
    due_head = (due_head + 1) % due_capacity;
    --due_count;
}

log_sink_answer discard_log(void*, const char*, size_t) {
    return log_sink_answer{log_sink_took, ""};
}

uint8_t file_bytes[sizeof configured_line + 0x10000];

size_t compose_config(const uint8_t* data, size_t size, bool with_id_line) {
    size_t used = 0;
    if (with_id_line) {
        std::memcpy(file_bytes, configured_line, sizeof configured_line - 1);
        used = sizeof configured_line - 1;
    }
    std::memcpy(file_bytes + used, data, size);
    return used + size;
}

bool write_config(size_t size) {
    std::FILE* file = std::fopen(config_path, "wb");
    if (file == nullptr) return false;
    bool ok = size == 0 || std::fwrite(file_bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The program logs every stroke of the configured keyboard; the fuzzer's
    // own report goes to standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    std::memset(long_id, 'x', long_id_length);
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(config_path, sizeof config_path, "%s/padmap-loop-fuzz-%ld.cfg", dir, static_cast<long>(getpid()));
    for (size_t i = 0; i < sizeof config_path; ++i) config_path16[i] = config_path[i];
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    bool identify = (data[0] & 1) != 0;
    bool with_id_line = (data[0] & 2) == 0;
    size_t config_size = static_cast<size_t>(data[1] | (data[2] << 8));
    if (config_size > size - 3) config_size = size - 3;
    const uint8_t* config = data + 3;
    size_t file_size = compose_config(config, config_size, with_id_line);
    require(write_config(file_size), "cannot write the configuration file");

    // Whether the file will load, from the loader's byte-buffer entry.
    bool loads = load_config_bytes(file_bytes, file_size, &expected_layout);
    // The model knows no layers, holds, layer switches, texts or programs: a
    // file with any is the engine tests' to check.
    bool beyond = expected_layout.layer_count > 0 || expected_layout.items.count > 0;
    for (const scope_holds& scope : expected_layout.holds) beyond = beyond || scope.count > 0;
    for (const key_entry& entry : expected_layout.keys.entries) beyond = beyond || is_layer_switch(entry);
    if (loads && beyond) return 0;

    feed in;
    in.strokes = config + config_size;
    in.count = (size - 3 - config_size) / stroke_bytes;
    in.next = 0;
    in.identify = identify;
    in.identified = false;
    due_head = 0;
    due_count = 0;
    std::memset(held, 0, sizeof held);
    std::memset(passed, 0, sizeof passed);
    pressed_count = 0;
    std::memset(after_e1, 0, sizeof after_e1);

    sim_reset();
    for (const declared_device& d : devices) sim_declare_device(d.device, d.id);
    sim_set_source(next_stroke, &in);
    sim_set_sink(check_delivery, nullptr);

    const char16_t* argv[] = {u"padmap", config_path16, nullptr};
    bool refused = !identify && !loads;
    // The log is written on the loop's own thread: a writer thread started for
    // every input would cost most of the fuzzer's time, and the writer has
    // tests of its own.
    int status = padmap_run(identify ? 1 : 2, argv, padmap_log_output{discard_log, nullptr, false});
    std::fflush(stdout);

    require(status == (refused ? 1 : 0), "the exit status differs from what the configuration gives");
    // Whatever way the run ended, the driver is let go.
    require(sim_open_handles() == 0, "a handle was left open at exit");
    require(sim_live_blocks() == 0, "a heap block was left at exit");
    require(due_count == 0, "a stroke's outputs were never delivered");
    if (!identify && status == 0) require(in.next == in.count, "the loop ended before the last stroke");
    sim_set_source(nullptr, nullptr);
    sim_set_sink(nullptr, nullptr);
    sim_reset();
    return 0;
}
