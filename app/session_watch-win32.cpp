#include "app/session_watch.h"

#include <windows.h>

#include <wtsapi32.h>

#include "app/listening_window-win32.h"

// The session's news comes to windows as messages: the session change to a
// window registered for it, the power broadcast to every top-level window
// (a message-only window never gets it). A hidden top-level window on a
// thread of its own takes both and only posts them.
struct os_session_watch {
    CRITICAL_SECTION guard;  // held while posting, and to let go of the queue
    notice_queue* queue;     // null once the caller let go
    listening_window* listener;
};

namespace {

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

// Where the session cannot be registered for, its messages sent to the
// window (by the system or a test) are still taken.
void* notice_session(HWND window) {
    return WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE ? window : nullptr;
}

void forget_session(HWND window, void* registration) {
    if (registration != nullptr) WTSUnRegisterSessionNotification(window);
}

const listening_window_kind session_listener = {L"padmap-session-watch", session_window, true, notice_session,
                                                forget_session};

void free_session_watch(void* context) {
    auto* watch = static_cast<os_session_watch*>(context);
    DeleteCriticalSection(&watch->guard);
    HeapFree(GetProcessHeap(), 0, watch);
}

}  // namespace

os_session_watch* os_watch_session(notice_queue* queue) {
    auto* watch =
        static_cast<os_session_watch*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(os_session_watch)));
    if (watch == nullptr) return nullptr;
    InitializeCriticalSection(&watch->guard);
    watch->queue = queue;
    // A watch whose window cannot be made is freed with it.
    listening_window* listener = open_listening_window(&session_listener, watch, free_session_watch);
    if (listener == nullptr) return nullptr;
    watch->listener = listener;
    return watch;
}

bool os_unwatch_session(os_session_watch* watch) {
    if (watch == nullptr) return true;
    EnterCriticalSection(&watch->guard);
    watch->queue = nullptr;
    LeaveCriticalSection(&watch->guard);
    return close_listening_window(watch->listener);
}
