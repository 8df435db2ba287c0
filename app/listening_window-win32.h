#ifndef PADMAP_APP_LISTENING_WINDOW_WIN32_H
#define PADMAP_APP_LISTENING_WINDOW_WIN32_H

#include <windows.h>

// The system tells windows, not events, of devices that come and go and of
// the session: a window on a thread of its own takes those messages and does
// nothing else, so its thread holds nobody up.
struct listening_window;

struct listening_window_kind {
    const wchar_t* class_name;
    // Finds the context with GetWindowLongPtrW(window, GWLP_USERDATA).
    WNDPROC procedure;
    // A hidden top-level window, which broadcasts (the power ones) reach;
    // otherwise a message-only one.
    bool top_level;
    // Called on the thread once the window exists, to register it for the
    // system's news; what it returns is handed to closing before the window
    // goes. Either may be null.
    void* (*opened)(HWND window);
    void (*closing)(HWND window, void* registration);
};

// Starts the thread and waits (ten seconds at most) until its window
// listens. kind must outlive it. free_context (may be null) is called with
// context once neither the caller nor the thread needs it any more. Returns
// null when the window cannot be made: the context is then freed, or will be
// when a thread that is late ends.
listening_window* open_listening_window(const listening_window_kind* kind, void* context,
                                        void (*free_context)(void* context));

// Ends the thread, waiting two seconds at most; returns false when it did
// not end (it goes on to end on its own, and then frees the context).
bool close_listening_window(listening_window* window);

#endif
