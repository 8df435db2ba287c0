// Times how late padmap.exe decides a hold once its time runs out, for
// scripts/bench-hold:
//
//   padmap-testdrv-hold HOLDS HOLD_MS WATCH PADMAP_EXE CONFIG STDOUT_FILE
//
// Declares keyboard 1 (a pad, HID\VID_1A86&PID_E026&MI_00) and keyboard 2 (a
// main keyboard), writes CONFIG with 'hold-time HOLD_MS' and 'hold F1 LCtrl',
// starts PADMAP_EXE on it with its standard output in STDOUT_FILE and waits
// until it captures the pad. Then, after one hold that is not timed, HOLDS
// times over: F1 goes down on the pad, stays down until LCtrl down reached
// the system, and goes up; once LCtrl up reached the system and padmap read
// everything, a pause of 40-79 ms (a different one each time) lets things
// settle. Nothing else is typed.
//
// The times are the test driver's, on the performance counter: when it took
// the press, when padmap's read handed the press over, and when LCtrl down
// reached the system through padmap's write. While a hold runs, the runner
// either makes no request at all until HOLD_MS + 30 ms after the press
// (WATCH quiet: under Wine each request to its server brings the tick count,
// padmap's clock, up to date, so a runner that asked would keep padmap's
// clock fresh for it), or asks the driver for delivered strokes every
// millisecond from the press on (WATCH poll) and notes when its poll first
// saw LCtrl down. A first line gives the counter's frequency, then one line
// for each hold:
//
//   counter_hz=F
//   hold=N late_ms=T read_ms=R seen_ms=S
//
// T: from the press plus HOLD_MS to LCtrl down reaching the system; R: from
// the press to padmap's read of it; S (poll only, else "-"): from the
// delivery to the poll that saw it. The session then ends and padmap must
// exit on its own.
//
// Exit status 0; 2 for bad usage; 3 when the driver is missing or padmap did
// not do what it should (message on standard error).

#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

#include "testdrv/command_line.h"
#include "testdrv/control.h"

namespace {

// Each far beyond what its step takes; only a hang reaches them.
constexpr DWORD start_limit_ms = 15000;
constexpr double hold_limit_ms = 5000;
constexpr double settle_limit_ms = 15000;
// The quiet runner's first look, well after the hold's time.
constexpr DWORD quiet_margin_ms = 30;
constexpr uint32_t ctl_read = 0x222100;
constexpr uint16_t f1_make_code = 0x3B;
constexpr uint16_t lctrl_make_code = 0x1D;

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-hold: %s\n", message);
    return 3;
}

int64_t counter_now() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

struct bench_run {
    testctl_link* link;
    HANDLE padmap;
    double counts_per_ms;  // of the performance counter
    long hold_ms;
    bool poll;
};

double ms_between(const bench_run* run, int64_t from, int64_t to) {
    return static_cast<double>(to - from) / run->counts_per_ms;
}

// Waits until padmap captures the pad with its event registered.

// Waits until LCtrl goes down (state 0) or up (state 1) on the system, padmap
// sending it; *at is when the record reached the system, *seen when the
// runner's request saw it. Any other record is a fault: F1 held must send
// nothing else.
const char* wait_for_lctrl(bench_run* run, uint16_t state, int64_t* at, int64_t* seen) {
    int64_t started = counter_now();
    for (;;) {
        testctl_delivered records[16];
        int n = testctl_take_delivered(run->link, records, 16);
        int64_t now = counter_now();
        if (n < 0) return "the test driver stopped answering";
        if (n > 1) return "padmap sent more than the hold's one stroke";
        if (n == 1) {
            const testctl_delivered& got = records[0];
            uint16_t make = static_cast<uint16_t>(got.record[2] | (got.record[3] << 8));
            uint16_t flags = static_cast<uint16_t>(got.record[4] | (got.record[5] << 8));
            if (got.device != 1 || make != lctrl_make_code || flags != state) {
                return state == 0 ? "padmap sent something other than LCtrl down when F1 was held"
                                  : "padmap sent something other than LCtrl up when F1 was released";
            }
            *at = got.time;
            *seen = now;
            return nullptr;
        }
        if (exited(run->padmap)) return "padmap exited";
        if (ms_between(run, started, now) > hold_limit_ms + run->hold_ms) {
            return state == 0 ? "padmap never held F1" : "padmap never released LCtrl";
        }
        Sleep(1);
    }
}

// Waits until padmap read everything typed and went back to its wait (the
// pad's event registered, no record in the queue).
const char* wait_for_idle(bench_run* run) {
    int64_t started = counter_now();
    for (;;) {
        testctl_status status;
        if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
        if (status.queued[0] == 0 && status.consumed == status.pushed) return nullptr;
        if (exited(run->padmap)) return "padmap exited";
        if (ms_between(run, started, counter_now()) > settle_limit_ms) return "padmap did not read a stroke in time";
        Sleep(1);
    }
}

// The time padmap's first read after the press handed it over, from the
// driver's record of padmap's requests; drains that record.
const char* find_read(bench_run* run, int64_t typed, int64_t* read) {
    *read = 0;
    for (;;) {
        testctl_request requests[64];
        int n = testctl_take_requests(run->link, requests, 64);
        if (n < 0) return "the test driver stopped answering";
        for (int i = 0; i < n; ++i) {
            const testctl_request& r = requests[i];
            if (*read == 0 && r.code == ctl_read && r.device == 1 && r.returned > 0 && r.time >= typed) {
                *read = r.time;
            }
        }
        if (n < 64) break;
    }
    return *read == 0 ? "no read of the press in the driver's record" : nullptr;
}

// One hold of F1; prints its line when number > 0.
const char* hold_once(bench_run* run, long number) {
    int64_t before = counter_now();
    int64_t typed = 0;
    if (!testctl_push_key_timed(run->link, 1, f1_make_code, 0, 0, &typed)) return "the test driver refused a stroke";
    if (typed < before || typed > counter_now()) return "the test driver's clock is not the runner's";
    if (!run->poll) Sleep(static_cast<DWORD>(run->hold_ms) + quiet_margin_ms);
    int64_t down = 0, seen = 0, up = 0, up_seen = 0, read = 0;
    if (const char* problem = wait_for_lctrl(run, 0, &down, &seen)) return problem;
    if (!testctl_push_key(run->link, 1, f1_make_code, 1, 0)) return "the test driver refused a stroke";
    if (const char* problem = wait_for_lctrl(run, 1, &up, &up_seen)) return problem;
    if (const char* problem = wait_for_idle(run)) return problem;
    if (const char* problem = find_read(run, typed, &read)) return problem;
    if (number > 0) {
        char seen_text[32] = "-";
        if (run->poll) std::snprintf(seen_text, sizeof seen_text, "%.3f", ms_between(run, down, seen));
        std::printf("hold=%ld late_ms=%.3f read_ms=%.3f seen_ms=%s\n", number,
                    ms_between(run, typed, down) - static_cast<double>(run->hold_ms), ms_between(run, typed, read),
                    seen_text);
    }
    // Varied, so that the presses do not keep one phase to anything periodic
    // in Wine's server.
    Sleep(static_cast<DWORD>(40 + (number * 17) % 40));
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    long holds = argc == 7 ? std::wcstol(argv[1], nullptr, 10) : 0;
    long hold_ms = argc == 7 ? std::wcstol(argv[2], nullptr, 10) : 0;
    bool watch_known = argc == 7 && (std::wcscmp(argv[3], L"quiet") == 0 || std::wcscmp(argv[3], L"poll") == 0);
    if (holds < 1 || holds > 10000 || hold_ms < 50 || hold_ms > 5000 || !watch_known) {
        std::fputs("usage: padmap-testdrv-hold HOLDS HOLD_MS quiet|poll PADMAP_EXE CONFIG STDOUT_FILE\n", stderr);
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    bench_run run = {};
    run.counts_per_ms = static_cast<double>(frequency.QuadPart) / 1000.0;
    run.hold_ms = hold_ms;
    run.poll = std::wcscmp(argv[3], L"poll") == 0;
    std::string layout =
        std::string(testdrv_pad_id_text) + "\r\nhold-time " + std::to_string(hold_ms) + "\r\nhold F1 LCtrl\r\n";
    if (!write_file(argv[5], layout)) return fail("the configuration cannot be written");

    testctl_link link = {};
    run.link = &link;
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !testctl_declare_pad_and_main(&link)) {
        return fail("the test driver refused the keyboards");
    }
    const wchar_t* padmap_argv[] = {argv[4], argv[5]};
    PROCESS_INFORMATION padmap;
    if (!start_with_output(2, padmap_argv, argv[6], CREATE_NO_WINDOW, &padmap)) {
        return fail("padmap cannot be started");
    }
    run.padmap = padmap.hProcess;

    std::printf("counter_hz=%lld\n", static_cast<long long>(frequency.QuadPart));
    const char* problem = testctl_wait_for_capture(run.link, run.padmap, start_limit_ms);
    for (long i = 0; i <= holds && problem == nullptr; ++i) problem = hold_once(&run, i);
    std::fflush(stdout);
    if (problem == nullptr && !testctl_end(&link)) problem = "the session cannot be ended";
    if (problem == nullptr && WaitForSingleObject(run.padmap, start_limit_ms) != WAIT_OBJECT_0) {
        problem = "padmap did not exit when the session ended";
    }
    if (problem != nullptr) TerminateProcess(run.padmap, 3);
    CloseHandle(run.padmap);
    testctl_reset(&link);
    testctl_close(&link);
    if (problem != nullptr) return fail(problem);
    return 0;
}
