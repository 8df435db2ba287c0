#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "keymap/config.h"
#include "keymap/key_table.h"

namespace {

namespace fs = std::filesystem;

const char* const inputs[] = {"A", "B", "Caps", "F1", "F2", "Num/", "Insert", "user1", "#e05b", "#002a"};
const char* const outputs[] = {"Backspace",         "C-C",   "C-V,Enter", "S-B,Enter",
                               "rA-Right,Tab,A-F4", "user1", "W-D",       "Space"};

// A configuration of the given number of mapping lines, as UTF-8 with CR LF.
std::string make_config(int lines) {
    std::string text = "HID\\VID_046D&PID_C31C&REV_4920&MI_00\r\n";
    for (int i = 0; i < lines; ++i) {
        text += inputs[i % 10];
        text += ' ';
        text += outputs[(i / 10) % 8];
        text += "\r\n";
    }
    return text;
}

// The echo of 100,000 lines would swamp the report: send it to /dev/null
// while the loop runs.
struct quiet_stdout {
    int saved;
};

quiet_stdout silence() {
    fflush(stdout);
    quiet_stdout quiet = {dup(1)};
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
    return quiet;
}

void restore(quiet_stdout quiet) {
    fflush(stdout);
    dup2(quiet.saved, 1);
    close(quiet.saved);
}

// What each load fills.
config loaded;

void load_file(benchmark::State& state) {
    int lines = static_cast<int>(state.range(0));
    fs::path path = fs::temp_directory_path() / ("padmap-config-bench-" + std::to_string(getpid()) + ".txt");
    std::string text = make_config(lines);
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    std::u16string name = path.u16string();

    quiet_stdout quiet = silence();
    for (auto _ : state) {
        benchmark::DoNotOptimize(load_config(name.c_str(), &loaded));
    }
    restore(quiet);
    fs::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.counters["lines"] = lines;
}

void load_memory(benchmark::State& state) {
    std::string text = make_config(static_cast<int>(state.range(0)));
    quiet_stdout quiet = silence();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            load_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &loaded));
    }
    restore(quiet);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(load_file)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(load_memory)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
