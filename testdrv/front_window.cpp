// A window of a program the driver stage names: copied under a program's file
// name ("Premiere Pro.exe"), it makes one top-level window, shows it, brings
// it to the front and stays until the window is told to close (WM_CLOSE),
// then exits with status 0.
//
//   padmap-front-window
//
// Exit status 3 when the window cannot be made (under Wine: no display).

#include <windows.h>

namespace {

const wchar_t window_class[] = L"padmap-front-window";

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The process ends with the window still there, and the system takes
    // both away together. Destroying a window that was in front first
    // withdraws it from the display, and Wine then waits two seconds for a
    // window manager that a bare X server does not have.
    if (message == WM_CLOSE) ExitProcess(0);
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSW kind = {};
    kind.lpfnWndProc = window_procedure;
    kind.hInstance = instance;
    kind.lpszClassName = window_class;
    if (RegisterClassW(&kind) == 0) return 3;
    HWND window = CreateWindowExW(0, window_class, L"padmap front window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320,
                                  200, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 3;
    SetForegroundWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
