// Times how long after an editor's save padmap.exe uses the new layout, for
// scripts/bench-reload:
//
//   padmap-testdrv-reload SAVES GAP_MS PADMAP_EXE CONFIG STDOUT_FILE
//
// Declares keyboard 1 (a pad, HID\VID_1A86&PID_E026&MI_00) and keyboard 2 (a
// main keyboard), writes CONFIG with a layout that maps the pad's F1 to A,
// starts PADMAP_EXE on it with its standard output in STDOUT_FILE and waits
// until it captures the pad. Then, for each way of saving (written in place;
// written to a new file that is renamed over CONFIG), SAVES times over:
//
//   - the file is saved with F1 mapped the other way (A, B, A, ...) and
//     nothing typed; the time runs from the save's end until padmap's
//     "reloaded" line is in STDOUT_FILE;
//   - the file is saved again, and from the save's end F1 is tapped on the
//     pad, each tap once the one before went through padmap and GAP_MS
//     after it, until a press comes out as the new layout's key; the time
//     runs from the save's end until that press reached the system. Taps
//     stop after a limit: the new layout did not come while the pad was
//     typed on.
//
// One line each:
//
//   save=in-place|renamed what=reloaded ms=T
//   save=in-place|renamed what=stroke ms=T taps=N      (ms=none: not within the limit)
//
// The session then ends and padmap must exit on its own.
//
// Exit status 0; 2 for bad usage; 3 when the driver is missing or padmap did
// not do its part (message on standard error).

#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

#include "testdrv/command_line.h"
#include "testdrv/control.h"

namespace {

// Each far beyond what its step takes; only a hang reaches them.
constexpr DWORD start_limit_ms = 15000;
constexpr DWORD reload_limit_ms = 15000;
constexpr DWORD tap_limit_ms = 15000;
// How long the taps go on before the new layout counts as not coming: many
// times the 200 ms padmap lets a change settle.
constexpr double stroke_limit_ms = 3000;
constexpr uint16_t f1_make_code = 0x3B;
constexpr uint16_t a_make_code = 0x1E;
constexpr uint16_t b_make_code = 0x30;

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-reload: %s\n", message);
    return 3;
}

bool start_padmap(const wchar_t* program, const wchar_t* config, const wchar_t* stdout_path,
                  PROCESS_INFORMATION* started) {
    const wchar_t* argv[] = {program, config};
    return start_with_output(2, argv, stdout_path, CREATE_NO_WINDOW, started);
}

double now_ms() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string layout(uint16_t output) {
    return std::string(testdrv_pad_id_text) + "\r\nF1 " + (output == a_make_code ? "A" : "B") + "\r\n";
}

// An editor's save: the file written over in place, or a new file beside it
// renamed over it.
bool save(const wchar_t* config, bool renamed, const std::string& bytes) {
    if (!renamed) return write_file(config, bytes);
    std::wstring fresh = std::wstring(config) + L".saving";
    return write_file(fresh.c_str(), bytes) && MoveFileExW(fresh.c_str(), config, MOVEFILE_REPLACE_EXISTING);
}

// padmap's standard output as far as it has come, read as it grows.
struct output_reader {
    HANDLE file;
    std::string text;
    size_t reloads;  // "reloaded " lines seen so far
    size_t scanned;  // text before this is counted
};

bool read_more(output_reader* out) {
    char buffer[4096];
    DWORD got = 0;
    do {
        if (!ReadFile(out->file, buffer, sizeof buffer, &got, nullptr)) return false;
        out->text.append(buffer, got);
    } while (got > 0);
    size_t end;
    while ((end = out->text.find('\n', out->scanned)) != std::string::npos) {
        if (out->text.compare(out->scanned, 9, "reloaded ") == 0) ++out->reloads;
        out->scanned = end + 1;
    }
    return true;
}

// Waits until padmap has printed count "reloaded" lines.
const char* wait_for_reloads(output_reader* out, size_t count, HANDLE padmap) {
    double started = now_ms();
    for (;;) {
        if (!read_more(out)) return "padmap's output cannot be read";
        if (out->reloads >= count) return nullptr;
        if (exited(padmap)) return "padmap exited";
        if (now_ms() - started > reload_limit_ms) return "padmap did not read the file again in time";
        Sleep(1);
    }
}

// Types one stroke of F1 on the pad and waits until padmap sent what it
// makes of it; *first is the make code of the first record that reached the
// system.
const char* tap_half(testctl_link* link, HANDLE padmap, uint16_t state, uint16_t* first) {
    if (!testctl_push_key(link, 1, f1_make_code, state, 0)) return "the test driver refused a stroke";
    double started = now_ms();
    bool seen = false;
    for (;;) {
        testctl_delivered records[16];
        int n = testctl_take_delivered(link, records, 16);
        if (n < 0) return "the test driver stopped answering";
        if (n > 0 && !seen) {
            *first = static_cast<uint16_t>(records[0].record[2] | (records[0].record[3] << 8));
            seen = true;
        }
        testctl_status status;
        if (!testctl_get_status(link, &status)) return "the test driver stopped answering";
        if (seen && status.queued[0] == 0 && status.consumed == status.pushed && status.waiting == 0) return nullptr;
        if (exited(padmap)) return "padmap exited";
        if (now_ms() - started > tap_limit_ms) return "a stroke did not go through padmap in time";
        Sleep(1);
    }
}

// Waits until padmap captures the pad with its event registered.

struct bench_run {
    testctl_link* link;
    HANDLE padmap;
    const wchar_t* config;
    output_reader output;
    uint16_t output_key;  // what F1 gives in the file as saved last
    size_t saves;         // saves padmap must have reloaded
    DWORD gap_ms;
};

const char* time_reload(bench_run* run, bool renamed, const char* way) {
    run->output_key = run->output_key == a_make_code ? b_make_code : a_make_code;
    if (!save(run->config, renamed, layout(run->output_key))) return "the configuration cannot be saved";
    double saved = now_ms();
    if (const char* problem = wait_for_reloads(&run->output, ++run->saves, run->padmap)) return problem;
    std::printf("save=%s what=reloaded ms=%.1f\n", way, now_ms() - saved);
    return nullptr;
}

const char* time_stroke(bench_run* run, bool renamed, const char* way) {
    run->output_key = run->output_key == a_make_code ? b_make_code : a_make_code;
    if (!save(run->config, renamed, layout(run->output_key))) return "the configuration cannot be saved";
    double saved = now_ms();
    long taps = 0;
    double took = -1;
    while (took < 0 && now_ms() - saved < stroke_limit_ms) {
        uint16_t pressed = 0, released = 0;
        if (const char* problem = tap_half(run->link, run->padmap, 0, &pressed)) return problem;
        double done = now_ms();
        ++taps;
        if (pressed == run->output_key) took = done - saved;
        if (const char* problem = tap_half(run->link, run->padmap, 1, &released)) return problem;
        if (run->gap_ms > 0) Sleep(run->gap_ms);
    }
    if (took < 0) {
        std::printf("save=%s what=stroke ms=none taps=%ld\n", way, taps);
    } else {
        std::printf("save=%s what=stroke ms=%.1f taps=%ld\n", way, took, taps);
    }
    // The next save starts from a file padmap has read.
    return wait_for_reloads(&run->output, ++run->saves, run->padmap);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    long saves = argc == 6 ? std::wcstol(argv[1], nullptr, 10) : 0;
    long gap = argc == 6 ? std::wcstol(argv[2], nullptr, 10) : -1;
    if (saves < 1 || saves > 1000 || gap < 0 || gap > 60000) {
        std::fputs("usage: padmap-testdrv-reload SAVES GAP_MS PADMAP_EXE CONFIG STDOUT_FILE\n", stderr);
        return 2;
    }
    bench_run run = {};
    run.config = argv[4];
    run.output_key = a_make_code;
    run.gap_ms = static_cast<DWORD>(gap);
    if (!write_file(run.config, layout(run.output_key))) return fail("the configuration cannot be written");

    testctl_link link = {};
    run.link = &link;
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !testctl_declare_pad_and_main(&link)) {
        return fail("the test driver refused the keyboards");
    }
    PROCESS_INFORMATION padmap;
    if (!start_padmap(argv[3], run.config, argv[5], &padmap)) return fail("padmap cannot be started");
    run.padmap = padmap.hProcess;
    run.output.file = CreateFileW(argv[5], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

    const char* problem = run.output.file == INVALID_HANDLE_VALUE ? "padmap's output cannot be read" : nullptr;
    if (problem == nullptr) problem = testctl_wait_for_capture(&link, run.padmap, start_limit_ms);
    // padmap watches the file's folder only once it has captured the pad;
    // a tap that went through it says it waits in its loop, watching.
    uint16_t first = 0;
    if (problem == nullptr) problem = tap_half(&link, run.padmap, 0, &first);
    if (problem == nullptr) problem = tap_half(&link, run.padmap, 1, &first);
    for (int way = 0; way < 2 && problem == nullptr; ++way) {
        bool renamed = way == 1;
        const char* name = renamed ? "renamed" : "in-place";
        for (long i = 0; i < saves && problem == nullptr; ++i) problem = time_reload(&run, renamed, name);
        for (long i = 0; i < saves && problem == nullptr; ++i) problem = time_stroke(&run, renamed, name);
    }
    std::fflush(stdout);
    if (problem == nullptr && !testctl_end(&link)) problem = "the session cannot be ended";
    if (problem == nullptr && WaitForSingleObject(run.padmap, start_limit_ms) != WAIT_OBJECT_0) {
        problem = "padmap did not exit when the session ended";
    }
    if (problem != nullptr) TerminateProcess(run.padmap, 3);
    CloseHandle(run.padmap);
    if (run.output.file != INVALID_HANDLE_VALUE) CloseHandle(run.output.file);
    testctl_reset(&link);
    testctl_close(&link);
    if (problem != nullptr) return fail(problem);
    return 0;
}
