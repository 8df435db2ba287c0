#include "app/session_watch.h"

#include <windows.h>

#include <wtsapi32.h>

// The session's news comes to windows as messages: the session change to a
// window registered for it, the power broadcast to every top-level window
// (a message-only window never gets it). A hidden top-level window on a
// thread of its own takes both and only posts them.
struct os_session_watch {
    CRITICAL_SECTION guard;  // held while posting, and to let go of the queue
    notice_queue* queue;     // null once the caller let go
    HANDLE ready;            // set once the window exists, or the thread gave up
    HANDLE stop;             // set to end the thread
    HANDLE thread;
    bool listening;
    // The caller and the thread each hold the watch; whichever lets go last
    // frees it, so that a thread the caller stopped waiting for still can.
    LONG holders;
};

namespace {

const wchar_t session_window_class[] = L"padmap-session-watch";
constexpr DWORD watch_start_limit_ms = 10000;
constexpr DWORD watch_stop_limit_ms = 2000;

void post(os_session_watch* watch, loop_notice notice) {
    EnterCriticalSection(&watch->guard);
    if (watch->queue != nullptr) post_notice(watch->queue, notice);
    LeaveCriticalSection(&watch->guard);
}

LRESULT CALLBACK session_window(HWND window, UINT message, WPARAM what, LPARAM detail) {
    auto* watch = reinterpret_cast<os_session_watch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (watch != nullptr && message == WM_WTSSESSION_CHANGE) {
        switch (what) {
        case WTS_SESSION_LOCK: post(watch, notice_lock); break;
        case WTS_SESSION_UNLOCK: post(watch, notice_unlock); break;
        case WTS_CONSOLE_DISCONNECT:
        case WTS_REMOTE_DISCONNECT: post(watch, notice_disconnect); break;
        case WTS_CONSOLE_CONNECT:
        case WTS_REMOTE_CONNECT: post(watch, notice_connect); break;
        default: break;
        }
        return 0;
    }
    if (watch != nullptr && message == WM_POWERBROADCAST) {
        if (what == PBT_APMSUSPEND) post(watch, notice_suspend);
        // A wake the user caused comes after the automatic one: one notice.
        if (what == PBT_APMRESUMEAUTOMATIC) post(watch, notice_wake);
        return TRUE;
    }
    return DefWindowProcW(window, message, what, detail);
}

void free_watch(os_session_watch* watch) {
    if (watch->thread != nullptr) CloseHandle(watch->thread);
    if (watch->stop != nullptr) CloseHandle(watch->stop);
    if (watch->ready != nullptr) CloseHandle(watch->ready);
    DeleteCriticalSection(&watch->guard);
    HeapFree(GetProcessHeap(), 0, watch);
}

void let_go(os_session_watch* watch) {
    if (InterlockedDecrement(&watch->holders) == 0) free_watch(watch);
}

void listen(os_session_watch* watch) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjectsEx(1, &watch->stop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken != WAIT_OBJECT_0 + 1) return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

DWORD WINAPI session_thread(void* context) {
    auto* watch = static_cast<os_session_watch*>(context);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW kind = {};
    kind.cbSize = sizeof kind;
    kind.lpfnWndProc = session_window;
    kind.hInstance = instance;
    kind.lpszClassName = session_window_class;
    HWND window = nullptr;
    if (RegisterClassExW(&kind) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
        window = CreateWindowExW(WS_EX_TOOLWINDOW, session_window_class, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 instance, nullptr);
    }
    if (window == nullptr) {
        SetEvent(watch->ready);
        let_go(watch);
        return 1;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(watch));
    // Where the session cannot be registered for, its messages sent to the
    // window (by the system or a test) are still taken.
    bool registered = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    watch->listening = true;
    SetEvent(watch->ready);
    listen(watch);
    if (registered) WTSUnRegisterSessionNotification(window);
    DestroyWindow(window);
    let_go(watch);
    return 0;
}

}  // namespace

os_session_watch* os_watch_session(notice_queue* queue) {
    auto* watch =
        static_cast<os_session_watch*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(os_session_watch)));
    if (watch == nullptr) return nullptr;
    InitializeCriticalSection(&watch->guard);
    watch->queue = queue;
    watch->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch->holders = 2;
    if (watch->ready != nullptr && watch->stop != nullptr) {
        watch->thread = CreateThread(nullptr, 0, session_thread, watch, 0, nullptr);
    }
    if (watch->thread == nullptr) {
        free_watch(watch);
        return nullptr;
    }
    if (WaitForSingleObject(watch->ready, watch_start_limit_ms) != WAIT_OBJECT_0 || !watch->listening) {
        os_unwatch_session(watch);
        return nullptr;
    }
    return watch;
}

bool os_unwatch_session(os_session_watch* watch) {
    if (watch == nullptr) return true;
    EnterCriticalSection(&watch->guard);
    watch->queue = nullptr;
    LeaveCriticalSection(&watch->guard);
    SetEvent(watch->stop);
    bool ended = WaitForSingleObject(watch->thread, watch_stop_limit_ms) == WAIT_OBJECT_0;
    let_go(watch);
    return ended;
}
