// Times one client of the test driver on a burst of strokes of one keyboard,
// for scripts/bench-driver:
//
//   padmap-testdrv-bench STROKES STDOUT_FILE PROGRAM [ARG...]
//
// Declares keyboard 1 (a pad, HID\VID_1A86&PID_E026&MI_00) and keyboard 2 (a
// main keyboard), starts PROGRAM with the ARGs and its standard output in
// STDOUT_FILE, waits until it captures keyboard 1, then types STROKES strokes
// of Caps there, press and release by turns, as one burst that the driver
// feeds as the client reads, and waits until as many strokes reached the
// system. Prints one line:
//
//   strokes=N seconds=S requests=R
//
// S from the burst's start to its last stroke reaching the system, R the
// requests the client made of the filter devices meanwhile. Then the
// driver's session ends and the client must exit on its own.
//
// Exit status 0; 2 for bad usage; 3 when the driver is missing or the client
// did not do its part (message on standard error).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include "testdrv/command_line.h"
#include "testdrv/control.h"

namespace {

// Far beyond a burst of the largest size the script asks for; only a hang
// reaches it.
constexpr DWORD run_limit_ms = 600000;
constexpr DWORD start_limit_ms = 15000;
// The burst's end is looked for this often: each look is a request of the
// driver too, which must not slow the client down.
constexpr DWORD look_every_ms = 10;
constexpr uint16_t caps_make_code = 0x3A;

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-bench: %s\n", message);
    return 3;
}

bool start_client(int argc, wchar_t** argv, const wchar_t* stdout_path, PROCESS_INFORMATION* started) {
    return start_with_output(argc, argv, stdout_path, CREATE_NEW_CONSOLE, started);
}

// Waits until the client captures the pad with its event registered.

// Waits until every stroke of the burst reached the system; fills the
// driver's state at that moment.
const char* wait_for_burst(testctl_link* link, HANDLE process, uint32_t strokes, testctl_status* status) {
    DWORD started = GetTickCount();
    for (;;) {
        if (!testctl_get_status(link, status)) return "the test driver stopped answering";
        if (status->delivered >= strokes) return nullptr;
        if (exited(process)) return "the client exited before the burst was through";
        if (GetTickCount() - started > run_limit_ms) return "the burst did not get through in time";
        WaitForSingleObject(process, look_every_ms);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    long strokes = argc >= 4 ? std::wcstol(argv[1], nullptr, 10) : 0;
    if (strokes < 1 || strokes > 10000000) {
        std::fputs("usage: padmap-testdrv-bench STROKES STDOUT_FILE PROGRAM [ARG...]\n", stderr);
        return 2;
    }
    testctl_link link = {};
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !testctl_declare_pad_and_main(&link)) {
        return fail("the test driver refused the keyboards");
    }
    PROCESS_INFORMATION client;
    if (!start_client(argc - 3, argv + 3, argv[2], &client)) return fail("the client cannot be started");

    const char* problem = testctl_wait_for_capture(&link, client.hProcess, start_limit_ms);
    testctl_status before = {};
    testctl_status after = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    if (problem == nullptr && !testctl_get_status(&link, &before)) problem = "the test driver stopped answering";
    QueryPerformanceCounter(&start);
    if (problem == nullptr && !testctl_burst_key(&link, 1, static_cast<uint32_t>(strokes), caps_make_code, 0)) {
        problem = "the test driver refused the burst";
    }
    if (problem == nullptr) problem = wait_for_burst(&link, client.hProcess, static_cast<uint32_t>(strokes), &after);
    QueryPerformanceCounter(&end);
    if (problem == nullptr && !testctl_end(&link)) problem = "the session cannot be ended";
    if (problem == nullptr && WaitForSingleObject(client.hProcess, start_limit_ms) != WAIT_OBJECT_0) {
        problem = "the client did not exit when the session ended";
    }
    if (problem != nullptr) TerminateProcess(client.hProcess, 3);
    CloseHandle(client.hProcess);
    testctl_status last = {};
    if (problem == nullptr && !testctl_get_status(&link, &last)) problem = "the test driver stopped answering";
    if (problem == nullptr && (last.consumed != static_cast<uint32_t>(strokes) || last.delivered != last.consumed)) {
        problem = "the client did not pass every stroke on once";
    }
    testctl_reset(&link);
    testctl_close(&link);
    if (problem != nullptr) return fail(problem);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("strokes=%ld seconds=%.3f requests=%lu\n", strokes, seconds,
                static_cast<unsigned long>(after.requests_total - before.requests_total));
    return 0;
}
