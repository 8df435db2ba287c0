#include "app/listening_window-win32.h"

struct listening_window {
    const listening_window_kind* kind;
    void* context;
    void (*free_context)(void* context);
    HANDLE ready;  // set once the window exists, or the thread gave up
    HANDLE stop;   // set to end the thread
    HANDLE thread;
    bool listening;
    // The caller and the thread each hold it; whichever lets go last frees
    // it, so that a thread the caller stopped waiting for still can.
    LONG holders;
};

namespace {

// Making a window takes milliseconds; only a broken system takes this long.
constexpr DWORD start_limit_ms = 10000;
// A thread told to stop ends in milliseconds; the end of a run does not
// wait longer than this for one that does not.
constexpr DWORD stop_limit_ms = 2000;

void free_listener(listening_window* listener) {
    if (listener->thread != nullptr) CloseHandle(listener->thread);
    if (listener->stop != nullptr) CloseHandle(listener->stop);
    if (listener->ready != nullptr) CloseHandle(listener->ready);
    if (listener->free_context != nullptr) listener->free_context(listener->context);
    HeapFree(GetProcessHeap(), 0, listener);
}

void let_go(listening_window* listener) {
    if (InterlockedDecrement(&listener->holders) == 0) free_listener(listener);
}

// Takes messages, sent ones among them, until the stop is set.
void listen(listening_window* listener) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjectsEx(1, &listener->stop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken != WAIT_OBJECT_0 + 1) return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

DWORD WINAPI listening_thread(void* context) {
    auto* listener = static_cast<listening_window*>(context);
    const listening_window_kind& kind = *listener->kind;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW shape = {};
    shape.cbSize = sizeof shape;
    shape.lpfnWndProc = kind.procedure;
    shape.hInstance = instance;
    shape.lpszClassName = kind.class_name;
    // A class left registered by an earlier window of this process is the same one.
    HWND window = nullptr;
    if (RegisterClassExW(&shape) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
        window = kind.top_level ? CreateWindowExW(WS_EX_TOOLWINDOW, kind.class_name, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                                  nullptr, instance, nullptr)
                                : CreateWindowExW(0, kind.class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                                  instance, nullptr);
    }
    if (window == nullptr) {
        SetEvent(listener->ready);
        let_go(listener);
        return 1;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(listener->context));
    void* registration = kind.opened != nullptr ? kind.opened(window) : nullptr;
    listener->listening = true;
    SetEvent(listener->ready);
    listen(listener);
    if (kind.closing != nullptr) kind.closing(window, registration);
    DestroyWindow(window);
    let_go(listener);
    return 0;
}

}  // namespace

listening_window* open_listening_window(const listening_window_kind* kind, void* context,
                                        void (*free_context)(void* context)) {
    auto* listener =
        static_cast<listening_window*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(listening_window)));
    if (listener == nullptr) {
        if (free_context != nullptr) free_context(context);
        return nullptr;
    }
    listener->kind = kind;
    listener->context = context;
    listener->free_context = free_context;
    listener->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener->holders = 2;
    if (listener->ready != nullptr && listener->stop != nullptr) {
        listener->thread = CreateThread(nullptr, 0, listening_thread, listener, 0, nullptr);
    }
    if (listener->thread == nullptr) {
        free_listener(listener);
        return nullptr;
    }
    // A thread that never got its window ready, or gave up, is told to stop
    // and left to free what it holds whenever it ends.
    if (WaitForSingleObject(listener->ready, start_limit_ms) != WAIT_OBJECT_0 || !listener->listening) {
        SetEvent(listener->stop);
        let_go(listener);
        return nullptr;
    }
    return listener;
}

bool close_listening_window(listening_window* listener) {
    SetEvent(listener->stop);
    bool ended = WaitForSingleObject(listener->thread, stop_limit_ms) == WAIT_OBJECT_0;
    let_go(listener);
    return ended;
}
