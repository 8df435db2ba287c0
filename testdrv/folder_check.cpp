// Takes a configuration's folder away from padmap.exe while it runs and
// brings it back, for the driver stage's lost-folder check:
//
//   padmap-testdrv-folder PADMAP_EXE STDOUT_FILE back|anew
//
// In the working directory it writes conf\pad.cfg, which maps the pad's F1
// (keyboard 1, HID\VID_1A86&PID_E026&MI_00) to A, declares the pad and a main
// keyboard, starts padmap on conf\pad.cfg with its standard output in
// STDOUT_FILE and taps F1. Then it renames conf to conf-away and waits for
// padmap's line that it lost the folder's watch (at its slow poll). The
// folder comes back with F1 mapped to B, saved meanwhile: with back, into
// conf-away, which is renamed back to conf; with anew, into a new folder
// conf made in its place. padmap must watch it again and read that save at
// a later poll (F1 then gives B); last, a save in place (F1 to C) must be
// read as any save is (F1 then gives C). The session then ends and padmap
// must exit on its own; the driver stage compares STDOUT_FILE with what
// padmap must have said.
//
// Exit status 0; 2 for bad usage; 3 when the driver is missing or padmap did
// not do its part (message on standard error).

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include "testdrv/command_line.h"
#include "testdrv/control.h"

namespace {

// Far beyond what a step takes, the 5-second poll included; only a hang
// reaches it.
constexpr DWORD step_limit_ms = 15000;
constexpr uint16_t f1_make_code = 0x3B;

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-folder: %s\n", message);
    return 3;
}

bool write_layout(const wchar_t* path, const char* output) {
    return write_file(path, std::string("HID\\VID_1A86&PID_E026&MI_00\r\nF1 ") + output + "\r\n");
}

struct folder_run {
    testctl_link* link;
    HANDLE padmap;
    HANDLE output;  // padmap's standard output, read as it grows
    std::string text;
};

// Waits until padmap's output holds count lines that start with head.
const char* wait_for_lines(folder_run* run, const char* head, int count) {
    DWORD started = GetTickCount();
    for (;;) {
        char buffer[4096];
        DWORD got = 0;
        do {
            if (!ReadFile(run->output, buffer, sizeof buffer, &got, nullptr)) return "padmap's output cannot be read";
            run->text.append(buffer, got);
        } while (got > 0);
        int seen = 0;
        for (size_t at = 0; at < run->text.size();) {
            seen += run->text.compare(at, std::strlen(head), head) == 0;
            size_t end = run->text.find('\n', at);
            if (end == std::string::npos) break;
            at = end + 1;
        }
        if (seen >= count) return nullptr;
        if (WaitForSingleObject(run->padmap, 0) == WAIT_OBJECT_0) return "padmap exited";
        if (GetTickCount() - started > step_limit_ms) {
            static char missing[160];
            std::snprintf(missing, sizeof missing, "padmap did not say \"%s...\" (%d in all) in time", head, count);
            return missing;
        }
        Sleep(10);
    }
}

// Taps F1 on the pad and waits until both strokes went through padmap; the
// press must reach the system as the key expected.
const char* tap_f1(folder_run* run, uint16_t expected) {
    for (uint16_t state = 0; state < 2; ++state) {
        if (!testctl_push_key(run->link, 1, f1_make_code, state, 0)) return "the test driver refused a stroke";
        DWORD started = GetTickCount();
        for (bool through = false; !through;) {
            testctl_delivered records[16];
            int n = testctl_take_delivered(run->link, records, 16);
            if (n < 0) return "the test driver stopped answering";
            if (n > 0 && state == 0 && (records[0].record[2] | (records[0].record[3] << 8)) != expected) {
                return "F1 did not give the layout's key";
            }
            through = n > 0;
            if (WaitForSingleObject(run->padmap, 0) == WAIT_OBJECT_0) return "padmap exited";
            if (GetTickCount() - started > step_limit_ms) return "a stroke did not go through padmap in time";
            if (!through) Sleep(1);
        }
    }
    return nullptr;
}

// The folder away, a save meanwhile, the folder back; then a save in place.
const char* take_folder_away(folder_run* run, bool anew) {
    if (const char* problem = tap_f1(run, 0x1E)) return problem;
    if (!MoveFileW(L"conf", L"conf-away")) return "the folder cannot be renamed away";
    if (const char* problem = wait_for_lines(run, "lost the watch of the folder", 1)) return problem;
    if (anew) {
        if (!CreateDirectoryW(L"conf", nullptr) || !write_layout(L"conf\\pad.cfg", "B")) {
            return "a new folder cannot be made in its place";
        }
    } else if (!write_layout(L"conf-away\\pad.cfg", "B") || !MoveFileW(L"conf-away", L"conf")) {
        return "the folder cannot be saved in and renamed back";
    }
    if (const char* problem = wait_for_lines(run, "reloaded ", 1)) return problem;
    if (const char* problem = tap_f1(run, 0x30)) return problem;
    if (!write_layout(L"conf\\pad.cfg", "C")) return "the configuration cannot be saved";
    if (const char* problem = wait_for_lines(run, "reloaded ", 2)) return problem;
    return tap_f1(run, 0x2E);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool anew = argc == 4 && std::wcscmp(argv[3], L"anew") == 0;
    if (argc != 4 || (!anew && std::wcscmp(argv[3], L"back") != 0)) {
        std::fputs("usage: padmap-testdrv-folder PADMAP_EXE STDOUT_FILE back|anew\n", stderr);
        return 2;
    }
    if (!CreateDirectoryW(L"conf", nullptr) || !write_layout(L"conf\\pad.cfg", "A")) {
        return fail("the configuration cannot be written");
    }
    testctl_link link = {};
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !testctl_declare_pad_and_main(&link)) {
        return fail("the test driver refused the keyboards");
    }
    const wchar_t* padmap_argv[] = {argv[1], L"conf\\pad.cfg"};
    PROCESS_INFORMATION padmap;
    if (!start_with_output(2, padmap_argv, argv[2], CREATE_NO_WINDOW, &padmap)) return fail("padmap cannot be started");
    folder_run run = {&link, padmap.hProcess, INVALID_HANDLE_VALUE, std::string()};
    run.output = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const char* problem = run.output == INVALID_HANDLE_VALUE ? "padmap's output cannot be read" : nullptr;
    if (problem == nullptr) problem = testctl_wait_for_capture(&link, run.padmap, step_limit_ms);
    if (problem == nullptr) problem = take_folder_away(&run, anew);
    if (problem == nullptr && !testctl_end(&link)) problem = "the session cannot be ended";
    if (problem == nullptr && WaitForSingleObject(run.padmap, step_limit_ms) != WAIT_OBJECT_0) {
        problem = "padmap did not exit when the session ended";
    }
    if (problem != nullptr) TerminateProcess(run.padmap, 3);
    CloseHandle(run.padmap);
    if (run.output != INVALID_HANDLE_VALUE) CloseHandle(run.output);
    testctl_reset(&link);
    testctl_close(&link);
    if (problem != nullptr) return fail(problem);
    return 0;
}
