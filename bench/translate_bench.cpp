// The translation of one stroke: the table search, the sends (counted, not
// made) and the building of its log text.
#include <benchmark/benchmark.h>

#include "app/translate.h"
#include "keymap/key_table.h"

namespace {

constexpr int key_a = 0;
constexpr int key_caps = 43;

int count_send(void* context, const key_stroke*) {
    ++*static_cast<long*>(context);
    return 1;
}

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
    send_op send = {count_send, &sent};
    stroke_log log;
    for (auto _ : state) {
        key_stroke key = received;
        benchmark::DoNotOptimize(translate_stroke(&table, &key, send, "", &log));
        benchmark::DoNotOptimize(log.length);
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
