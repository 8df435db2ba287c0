// One typed stroke through the whole program: the driver's wait, the read, the
// hardware-id request, the translation and its log, and every write, through
// padmap_main with the simulated driver. Presses and releases alternate. The
// program's start (banner, device set, configuration) happens before the clock
// starts. Its console output goes to /dev/null while it runs. The cases with
// sections type under a window that stays in front, and under a new window at
// every stroke (each asks the system for its program and picks the layout
// anew; the program alternates between one with a section and one without).
// With layers: a key of a layer held since before the clock started, and a
// key with a hold tapped (press and release before its time runs out). And
// the one-output key again with the table of held keys published, as
// padmapw's key loop publishes it for its watcher.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/entry.h"
#include "keymap/config.h"
#include "keymap/key_table.h"
#include "sim/sim.h"

namespace {

const char config_text[] =
    "HID\\VID_04D9&PID_1702\n"
    "Caps Backspace\n"
    "F2 run bench-program.exe --quiet\n"
    "A S-C-B,S-C-Enter,S-C-Right,S-C-Home,rS-rA-C,rS-rA-D,rS-rA-E,rS-rA-F,"
    "W-G,W-H,W-I,W-J,A-rC-K,A-rC-L,A-rC-M,A-rC-Insert\n";

const char sections_text[] =
    "when notepad.exe, wordpad.exe\n"
    "Caps Delete\n"
    "when mspaint.exe\n"
    "Caps Esc\n";

// A pad with a layer held on F12 and a key that is Esc tapped, Ctrl held.
const char layers_text[] = "F1 Esc\nhold F1 LCtrl\nF12 layer(nav)\nlayer nav\nCaps Delete\n";

enum front_kind { no_sections, window_stays, window_changes, layer_held, plain_layers };

constexpr int configured_keyboard = 1;
constexpr int other_keyboard = 2;

struct typing {
    benchmark::State* state;
    sim_typed press;
    front_kind front;
    long typed;
    long delivered;
    bool layer_down;  // layer_held: F12 went down before the first stroke
};

// The benchmark's clock runs while the driver asks for strokes: each
// iteration is one typed stroke.
bool type_next(void* context, sim_typed* next) {
    typing* t = static_cast<typing*>(context);
    if (t->front == layer_held && !t->layer_down) {
        t->layer_down = true;
        *next = sim_typed{t->press.device, key_stroke{0x58, 0, 0}};
        return true;
    }
    if (!t->state->KeepRunning()) return false;
    *next = t->press;
    if (t->front == window_changes) sim_bring_to_front(t->typed % 2 ? "explorer.exe" : "notepad.exe");
    if (t->typed++ % 2) next->key.key_state |= key_state_up;
    return true;
}

void count_delivery(void* context, int, const key_stroke*) {
    ++static_cast<typing*>(context)->delivered;
}

std::string config_path() {
    return "/tmp/padmap-loop-bench-" + std::to_string(static_cast<long>(getpid())) + ".cfg";
}

bool write_config(const std::string& path, front_kind front) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool sections = front == window_stays || front == window_changes;
    bool layers = front == layer_held || front == plain_layers;
    bool ok = std::fputs(config_text, file) >= 0 && (!sections || std::fputs(sections_text, file) >= 0) &&
              (!layers || std::fputs(layers_text, file) >= 0);
    return std::fclose(file) == 0 && ok;
}

void run_loop(benchmark::State& state, int device, uint16_t make, uint16_t e0, front_kind front = no_sections,
              bool published = false) {
    std::string path8 = config_path();
    if (!write_config(path8, front)) {
        state.SkipWithError("cannot write the configuration file");
        return;
    }
    typing t = {&state, {device, {make, e0, 0}}, front, 0, 0, false};
    sim_reset();
    sim_declare_device(configured_keyboard, "HID\\VID_04D9&PID_1702");
    sim_declare_device(other_keyboard, "HID\\VID_046D&PID_C31C");
    sim_declare_device(11, "HID\\VID_046D&PID_C077");
    sim_set_source(type_next, &t);
    sim_set_sink(count_delivery, &t);
    if (published) sim_publish_keys();
    if (front == window_stays) sim_bring_to_front("notepad.exe");

    std::u16string path(path8.begin(), path8.end());
    const char16_t* argv[] = {u"padmap", path.c_str(), nullptr};
    std::fflush(stdout);
    int console = dup(1);
    int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, 1);
    int status = padmap_main(2, argv);
    std::fflush(stdout);
    dup2(console, 1);
    close(console);
    close(null_device);

    sim_set_source(nullptr, nullptr);
    sim_set_sink(nullptr, nullptr);
    std::remove(path8.c_str());
    if (status != 0) state.SkipWithError("padmap_main failed");
    state.SetItemsProcessed(t.typed);
    state.counters["delivered/stroke"] =
        benchmark::Counter(static_cast<double>(t.delivered), benchmark::Counter::kAvgIterations);
}

void other_keyboard_stroke(benchmark::State& state) {
    run_loop(state, other_keyboard, 0x1E, 0);
}

void unmapped_key(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x10, 0);
}

void one_output_key(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3A, 0);
}

void one_output_key_published(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3A, 0, no_sections, true);
}

// The program is handed to the worker: the press returns to the loop at once.
void run_key(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3C, 0);
}

void sixteen_outputs_with_modifiers(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x1E, 0);
}

void sections_window_stays(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3A, 0, window_stays);
}

void sections_window_changes(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3A, 0, window_changes);
}

void key_in_a_held_layer(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3A, 0, layer_held);
}

void tapped_key_with_a_hold(benchmark::State& state) {
    run_loop(state, configured_keyboard, 0x3B, 0, plain_layers);
}

}  // namespace

BENCHMARK(other_keyboard_stroke);
BENCHMARK(unmapped_key);
BENCHMARK(one_output_key);
BENCHMARK(one_output_key_published);
BENCHMARK(run_key);
BENCHMARK(sixteen_outputs_with_modifiers);
BENCHMARK(sections_window_stays);
BENCHMARK(sections_window_changes);
BENCHMARK(key_in_a_held_layer);
BENCHMARK(tapped_key_with_a_hold);

BENCHMARK_MAIN();
