// The translation of one stroke: the table search, the sends (counted, not
// made) and the building of its log text.
#include <benchmark/benchmark.h>

#include "engine/translate.h"
#include "keymap/key_table.h"

namespace {

constexpr int key_a = 0;
constexpr int key_caps = 43;

key_table table;

void set_up_table() {
    reset_key_table(&table);
    table.entries[key_caps].outputs[0] = 0x000E;
    for (int i = 0; i < key_outputs; ++i) {
        table.entries[key_a].outputs[i] = static_cast<uint16_t>(0xE010 + i);
        table.entries[key_a].modifiers[i] = 0xFF;
    }
}

void run(benchmark::State& state, key_stroke received) {
    set_up_table();
    long sent = 0;
    held_outputs held;
    reset_held_outputs(&held);
    static engine_actions out;
    stroke_log log;
    for (auto _ : state) {
        clear_actions(&out);
        benchmark::DoNotOptimize(translate_stroke(&table, received, output_target{1, &held, &out}, "", &log));
        benchmark::DoNotOptimize(log.length);
        sent += out.count;
    }
    state.counters["sends/stroke"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kAvgIterations);
}

// Escape is in no entry: the whole table is searched.
void unmapped_key(benchmark::State& state) {
    run(state, key_stroke{0x01, 0x00, 0});
}

void one_output(benchmark::State& state) {
    run(state, key_stroke{0x3A, 0x00, 0});
}

void sixteen_outputs_all_modifiers(benchmark::State& state) {
    run(state, key_stroke{0x1E, 0x00, 0});
}

}  // namespace

BENCHMARK(unmapped_key);
BENCHMARK(one_output);
BENCHMARK(sixteen_outputs_all_modifiers);

BENCHMARK_MAIN();
