// A window that writes down what it is typed, for the driver stage's check of
// texts and programs:
//
//   padmap-text-window [--times]
//
// It makes one top-level window, brings it to the front and writes
// typed.txt in its working folder: "ready" once it is in front, then a line
// for every character it receives ("char XXXX": WM_CHAR, each UTF-16 unit in
// hex) and every key pressed that carries no character of SendInput's
// ("key XX": WM_KEYDOWN other than VK_PACKET, the virtual key in hex), as
// they come; with --times each such line ends in " TICKS", the performance
// counter when the message came, and the lines are written whenever no
// message waits (the writing then slows the typing less). It stays until the window is told to close
// (WM_CLOSE).
//
// Exit status 3 when the window or the file cannot be made.

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

namespace {

const wchar_t window_class[] = L"padmap-text-window";

HANDLE record = INVALID_HANDLE_VALUE;
bool timed = false;
std::string waiting;

void flush() {
    DWORD written = 0;
    if (!waiting.empty()) WriteFile(record, waiting.data(), static_cast<DWORD>(waiting.size()), &written, nullptr);
    waiting.clear();
}

void write_line(const char* text) {
    waiting += text;
    if (!timed) flush();
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    char line[64];
    LARGE_INTEGER now = {};
    if (timed) QueryPerformanceCounter(&now);
    char ticks[32] = "";
    if (timed) std::snprintf(ticks, sizeof ticks, " %lld", static_cast<long long>(now.QuadPart));
    if (message == WM_CHAR) {
        std::snprintf(line, sizeof line, "char %04x%s\n", static_cast<unsigned>(wparam & 0xFFFF), ticks);
        write_line(line);
        return 0;
    }
    if (message == WM_KEYDOWN && wparam != VK_PACKET) {
        std::snprintf(line, sizeof line, "key %02x%s\n", static_cast<unsigned>(wparam & 0xFF), ticks);
        write_line(line);
    }
    // As the front window program: the process ends with its window.
    if (message == WM_CLOSE) ExitProcess(0);
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    timed = std::wcsstr(GetCommandLineW(), L"--times") != nullptr;
    record = CreateFileW(L"typed.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (record == INVALID_HANDLE_VALUE) return 3;
    WNDCLASSW kind = {};
    kind.lpfnWndProc = window_procedure;
    kind.hInstance = instance;
    kind.lpszClassName = window_class;
    if (RegisterClassW(&kind) == 0) return 3;
    HWND window = CreateWindowExW(0, window_class, L"padmap text window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320,
                                  200, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 3;
    SetForegroundWindow(window);
    SetFocus(window);
    write_line("ready\n");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        MSG next;
        if (!PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE)) flush();
    }
    return 0;
}
