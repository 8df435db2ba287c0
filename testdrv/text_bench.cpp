// The text benchmark's runner (scripts/bench-text): how long a 200-character
// text takes to reach a window when padmap.exe types it for a key of the pad,
// against a bare client (this runner) that calls SendInput with the same
// characters, side by side in one run:
//
//   padmap-testdrv-textbench ROUNDS PADMAP_EXE WINDOW_EXE
//
// In the working directory it writes pad.cfg (the pad's F1 types the text),
// starts the text window with --times (it writes down each character with
// the performance counter when it came) and padmap on pad.cfg. Each round
// times both, in turns of which goes first: padmap from the moment F1 down is
// typed on the test driver to the moment the window got the text's last
// character; the bare client from its SendInput to the same. One line per
// round: "round=N padmap_us=T bare_us=T".
//
// Exit status 0; 2 for bad usage; 3 when the driver is missing or a step
// fails (message on standard error).

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include "testdrv/command_line.h"
#include "testdrv/control.h"
#include "testdrv/text_runs.h"

namespace {

constexpr int text_units = 200;

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-textbench: %s\n", message);
    return 3;
}

// 200 characters, some of them beyond ASCII.
std::u16string bench_text() {
    std::u16string text;
    const char16_t pattern[] = u"The quick brown fox jumps over the lazy dog \u00e9\u00e8\u00fc ";
    while (text.size() < static_cast<size_t>(text_units)) text += pattern;
    text.resize(text_units);
    return text;
}

std::string utf8(const std::u16string& text) {
    std::wstring wide(text.begin(), text.end());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

int64_t ticks_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Waits until the window has written down lines characters in all; returns
// the counter of the last one, or -1 when it does not come in time. Only
// what the window wrote since the last call is read (from *offset on).
int64_t wait_for_characters(size_t lines, size_t* seen, int64_t* offset) {
    DWORD started = GetTickCount();
    int64_t last = -1;
    while (GetTickCount() - started < text_step_limit_ms) {
        HANDLE file = CreateFileW(L"typed.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return -1;
        LARGE_INTEGER from;
        from.QuadPart = *offset;
        SetFilePointerEx(file, from, nullptr, FILE_BEGIN);
        std::string text;
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
        CloseHandle(file);
        // Whole lines only: the window may be writing the rest.
        size_t whole = text.rfind('\n');
        for (size_t at = 0; whole != std::string::npos && at <= whole;) {
            size_t end = text.find('\n', at);
            if (text.compare(at, 5, "char ") == 0) {
                ++*seen;
                last = std::atoll(text.c_str() + at + 10);
            }
            at = end + 1;
        }
        if (whole != std::string::npos) *offset += static_cast<int64_t>(whole + 1);
        if (*seen >= lines) return last;
        Sleep(5);
    }
    return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int rounds = argc == 4 ? _wtoi(argv[1]) : 0;
    if (rounds < 1) {
        std::fputs("usage: padmap-testdrv-textbench ROUNDS PADMAP_EXE WINDOW_EXE\n", stderr);
        return 2;
    }
    std::u16string text = bench_text();
    if (!write_file(L"pad.cfg", std::string(testdrv_pad_id_text) + "\r\nF1 \"" + utf8(text) + "\"\r\n")) {
        return fail("pad.cfg cannot be written");
    }
    testctl_link link = {};
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !testctl_declare_pad_and_main(&link)) {
        return fail("the test driver refused the keyboards");
    }
    HANDLE window = nullptr;
    HANDLE padmap = nullptr;
    if (!join_desktop() ||
        !start_on_desktop(L"\"" + std::wstring(argv[3]) + L"\" --times", L"window.out", 0, &window)) {
        return fail("the text window cannot be started");
    }
    DWORD started = GetTickCount();
    while (read_file(L"typed.txt").find("ready\n") == std::string::npos) {
        if (GetTickCount() - started > text_step_limit_ms) return fail("the text window did not come to the front");
        Sleep(10);
    }
    if (!start_on_desktop(L"\"" + std::wstring(argv[2]) + L"\" pad.cfg", L"padmap.stdout", CREATE_NO_WINDOW, &padmap)) {
        return fail("padmap cannot be started");
    }
    if (const char* problem = testctl_wait_for_capture(&link, padmap, text_step_limit_ms)) return fail(problem);

    std::vector<INPUT> inputs;
    for (char16_t unit : text) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wScan = unit;
        input.ki.dwFlags = KEYEVENTF_UNICODE;
        inputs.push_back(input);
        input.ki.dwFlags |= KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    size_t due = 0;
    size_t seen = 0;
    int64_t offset = 0;
    // One round of each before the timed ones: the first text in a window
    // costs what later ones do not.
    for (int round = 0; round <= rounds; ++round) {
        int64_t taken[2] = {};
        for (int turn = 0; turn < 2; ++turn) {
            bool by_padmap = (turn == 0) == (round % 2 == 0);
            int64_t from = ticks_now();
            if (by_padmap) {
                if (!testctl_push_key(&link, 1, 0x3B, 0, 0)) return fail("the test driver refused a stroke");
            } else if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size()) {
                return fail("SendInput did not take the text");
            }
            due += text_units;
            int64_t last = wait_for_characters(due, &seen, &offset);
            if (last < 0) return fail("the text did not reach the window in time");
            taken[by_padmap ? 0 : 1] = (last - from) * 1000000 / frequency.QuadPart;
            if (by_padmap && !testctl_push_key(&link, 1, 0x3B, 1, 0)) return fail("the test driver refused a stroke");
            Sleep(20);
        }
        if (round > 0) {
            std::printf("round=%d padmap_us=%lld bare_us=%lld\n", round, static_cast<long long>(taken[0]),
                        static_cast<long long>(taken[1]));
        }
    }
    testctl_end(&link);
    WaitForSingleObject(padmap, text_step_limit_ms);
    TerminateProcess(padmap, 3);
    TerminateProcess(window, 0);
    CloseHandle(padmap);
    CloseHandle(window);
    testctl_reset(&link);
    testctl_close(&link);
    return 0;
}
