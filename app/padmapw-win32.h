#ifndef PADMAP_APP_PADMAPW_WIN32_H
#define PADMAP_APP_PADMAPW_WIN32_H

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "app/log_file.h"
#include "app/notices.h"

// padmapw: remap mode without a console, its key loop on a thread of its
// own, a tray icon on the main thread and the control channel on a third.
// The loop is told everything through the notice queue and tells what it
// captures through the report; the tray and the channel give the same
// commands (padmapw_command).

// %NAME%\padmap (NAME an environment variable: APPDATA, LOCALAPPDATA), or
// the current folder's padmap where NAME is not set.
std::u16string padmapw_folder(const wchar_t* name);

// Set by the watcher for the next padmapw it starts: the words of a
// notification that the last key loop ended unexpectedly and this one starts
// again; or, once it starts no more loops, that this padmapw runs none
// (its tray says so; Reload tries again).
constexpr wchar_t padmapw_restarted_variable[] = L"PADMAPW_RESTARTED";
constexpr wchar_t padmapw_gave_up_variable[] = L"PADMAPW_GAVE_UP";

// Messages to the tray's window, from the other threads.
constexpr UINT tray_icon_message = WM_APP + 1;     // the icon was clicked
constexpr UINT loop_changed_message = WM_APP + 2;  // the loop's report changed, or it ended
constexpr UINT notify_message = WM_APP + 3;        // notifications wait in unseen::waiting
constexpr UINT enrolled_message = WM_APP + 4;      // a New configuration's keyboard waits in unseen::enrolled

// A notification: the loop stopped, a file refused, a keyboard plugged in.
struct balloon {
    std::string text;
    bool warning;  // something failed (not news such as a keyboard plugged in)
};

// The notifications a padmapw keeps to answer its channel's "notifications".
constexpr size_t notifications_kept = 32;

struct unseen {
    std::mutex lock;                    // guards what follows, up to the queue
    std::vector<std::u16string> paths;  // the files the loop runs with
    bool from_folder;                   // they are the .cfg files of config_folder
    bool identify;                      // with no file, the loop names a keyboard for a New configuration
    std::u16string enrolled;            // the id of the keyboard a New configuration picked
    bool restart;                       // the loop runs again with paths once it ends
    bool quitting;                      // the program ends once the loop ends
    std::vector<balloon> waiting;       // notifications still to be shown, oldest first
    std::vector<std::string> notified;  // the last notifications_kept notifications' texts, oldest first
    int loop_status;                    // -1 while the loop runs; then its exit status
    std::string stopped_why;            // a loop that failed: the last line it printed (empty: none)
    notice_queue notices;
    loop_report report;
    log_file log;
    std::u16string config_folder;  // %APPDATA%\padmap
    std::string gave_up;           // the watcher starts no more loops: why (no loop runs until Reload)
    HANDLE loop_handle;            // the thread of the latest loop started; null when none could be
    HWND window;                   // the tray's; null when none could be made
    HANDLE finished;               // set when padmapw without a window is to end
    std::atomic<bool> icon_shown;
};

// The files whose save the loop refused, by name ("pad.cfg", "2 files"),
// with state->lock held; empty when none.
std::string refused_files(unseen* state);

// A command of the tray's menu or of the channel, carried out; returns the
// answer (a line of text). See padmapw-win32.cpp for the words.
std::string padmapw_command(unseen* state, const std::string& request);

// Writes the New configuration for the keyboard picked (in the folder,
// named after its id), opens it in the editor and loads it.
void write_new_configuration(unseen* state);

// The tray: its hidden window and its icon. False when the window cannot be
// made.
bool open_tray(unseen* state, HINSTANCE instance);
// Shows the loop's state in the icon's picture and tooltip.
void show_state(unseen* state);
// Shows the notifications that wait, oldest first.
void show_notification(unseen* state);
void close_tray(unseen* state);

#endif
