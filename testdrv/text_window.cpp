// A window that writes down what it is typed, for the driver stage's check of
// texts and programs:
//
//   padmap-text-window
//
// It makes one top-level window, brings it to the front and writes
// typed.txt in its working folder: "ready" once it is in front, then a line
// for every character it receives ("char XXXX": WM_CHAR, each UTF-16 unit in
// hex) and every key pressed that carries no character of SendInput's
// ("key XX": WM_KEYDOWN other than VK_PACKET, the virtual key in hex), as
// they come. It stays until the window is told to close (WM_CLOSE).
//
// Exit status 3 when the window or the file cannot be made.

#include <cstdio>
#include <cstring>

#include <windows.h>

namespace {

const wchar_t window_class[] = L"padmap-text-window";

HANDLE record = INVALID_HANDLE_VALUE;

void write_line(const char* text) {
    DWORD written = 0;
    WriteFile(record, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    char line[32];
    if (message == WM_CHAR) {
        std::snprintf(line, sizeof line, "char %04x\n", static_cast<unsigned>(wparam & 0xFFFF));
        write_line(line);
        return 0;
    }
    if (message == WM_KEYDOWN && wparam != VK_PACKET) {
        std::snprintf(line, sizeof line, "key %02x\n", static_cast<unsigned>(wparam & 0xFF));
        write_line(line);
    }
    // As the front window program: the process ends with its window.
    if (message == WM_CLOSE) ExitProcess(0);
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
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
    }
    return 0;
}
