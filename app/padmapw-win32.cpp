#include "app/padmapw-win32.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <new>

#include "app/control_channel.h"
#include "app/entry.h"
#include "app/startup.h"
#include "app/stop.h"
#include "app/watched_loop-win32.h"
#include "console/console.h"
#include "keymap/config.h"
#include "keymap/text.h"

std::u16string padmapw_folder(const wchar_t* name) {
    wchar_t value[MAX_PATH * 4];
    DWORD units = GetEnvironmentVariableW(name, value, sizeof value / sizeof value[0]);
    if (units == 0 || units >= sizeof value / sizeof value[0]) return u"padmap";
    return std::u16string(reinterpret_cast<const char16_t*>(value)) + u"\\padmap";
}

namespace {

constexpr DWORD loop_end_limit_ms = 5000;
// A padmapw that is ending is gone well within this.
constexpr DWORD handover_limit_ms = 10000;

std::u16string from_wide(const wchar_t* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string full_path(const std::u16string& path) {
    wchar_t full[MAX_PATH * 4];
    DWORD units = GetFullPathNameW(wide(path), sizeof full / sizeof full[0], full, nullptr);
    return units > 0 && units < sizeof full / sizeof full[0] ? std::u16string(from_wide(full)) : path;
}

// The *.cfg files of the folder, in name order; the first ten.
std::vector<std::u16string> folder_configs(const std::u16string& folder) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(folder + u"\\*.cfg"), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(from_wide(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    if (names.size() > static_cast<size_t>(max_config_files)) names.resize(max_config_files);
    for (std::u16string& name : names) name = folder + u"\\" + name;
    return names;
}

// Without its window, padmapw ends once it quits and its loop ended.
void tell_tray(unseen* state, UINT message) {
    if (state->window != nullptr) {
        PostMessageW(state->window, message, 0, 0);
        return;
    }
    std::lock_guard<std::mutex> hold(state->lock);
    if (message == loop_changed_message && state->quitting && state->loop_status >= 0) SetEvent(state->finished);
}

void report_changed(void* context) {
    tell_tray(static_cast<unseen*>(context), loop_changed_message);
}

void report_enrolled(void* context, const char16_t* id) {
    auto* state = static_cast<unseen*>(context);
    {
        std::lock_guard<std::mutex> hold(state->lock);
        state->enrolled = id;
    }
    tell_tray(state, enrolled_message);
}

void notify(unseen* state, const std::string& text, bool warning = true) {
    {
        std::lock_guard<std::mutex> hold(state->lock);
        state->waiting.push_back(balloon{text, warning});
        if (state->notified.size() == notifications_kept) state->notified.erase(state->notified.begin());
        state->notified.push_back(text);
    }
    tell_tray(state, notify_message);
}

// A keyboard a file names, plugged in after the loop started: the user sees
// the pad taken (or why not: padmap is paused).
void report_arrived(void* context, const char* file) {
    auto* state = static_cast<unseen*>(context);
    std::string name = file;
    size_t folder = name.find_last_of("\\/");
    if (folder != std::string::npos) name.erase(0, folder + 1);
    std::string text = "the keyboard of " + name + " is plugged in: ";
    text += state->report.paused.load() ? "padmap is paused (Resume remaps it)" : "padmap remaps it";
    notify(state, text, false);
}

// The log's lines that a console would have shown the user, as a
// notification: a file refused at a reload.
log_sink_answer unseen_sink(void* context, const char* text, size_t size) {
    auto* state = static_cast<unseen*>(context);
    std::string piece(text, size);
    // A failure of the driver ends the loop: the notice of its end says it.
    size_t at = piece.find("not reloaded ");
    if (at != std::string::npos && (at == 0 || piece[at - 1] == '\n')) {
        notify(state, piece.substr(at, piece.find('\n', at) - at));
    }
    return log_file_sink(&state->log, text, size);
}

// Runs the loop with the files of the moment, again after each restart.
DWORD WINAPI loop_thread(void* context) {
    auto* state = static_cast<unseen*>(context);
    int status = 1;
    bool said = false;  // the end was notified with its reason already
    uint64_t log_start = 0;
    for (;;) {
        std::vector<std::u16string> paths;
        bool identify = false;
        std::string gave_up;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            if (state->quitting) {
                status = 0;
                state->loop_status = 0;
                break;
            }
            paths = state->paths;
            identify = paths.empty() && state->identify;
            // A New configuration asked while files are loaded but their
            // loop stopped: the loop started now waits for the keyboard.
            bool enroll = !paths.empty() && state->identify;
            state->identify = false;
            state->restart = false;
            state->loop_status = -1;
            // What was asked of the run before (the quit that ended it for a
            // restart) is not this run's; commands post under the same lock.
            loop_notice stale[notice_queue_size];
            while (take_notices(&state->notices, stale, notice_queue_size) > 0) {}
            if (enroll) post_notice(&state->notices, notice_enroll);
            state->stopped_why.clear();
            gave_up = state->gave_up;
        }
        reset_stop();
        log_start = log_file_length(&state->log);
        said = false;
        if (!gave_up.empty()) {
            console_printf(console_out, "%s\n", gave_up.c_str());
            notify(state, gave_up);
            said = true;
            status = 1;
        } else if (identify) {
            padmap_log_output output = {unseen_sink, state, true};
            status = padmap_run_unseen(0, nullptr, output, &state->notices, &state->report);
        } else if (paths.empty()) {
            std::string line =
                "no configuration: put .cfg files in " + utf8_text(state->config_folder.c_str()) + " and choose Reload";
            console_printf(console_out, "%s\n", line.c_str());
            notify(state, line);
            said = true;
            status = 1;
        } else {
            std::vector<const char16_t*> argv;
            for (const std::u16string& path : paths) argv.push_back(path.c_str());
            padmap_log_output output = {unseen_sink, state, true};
            status =
                padmap_run_unseen(static_cast<int>(argv.size()), argv.data(), output, &state->notices, &state->report);
        }
        std::lock_guard<std::mutex> hold(state->lock);
        if (state->restart) continue;
        state->loop_status = status;
        // A loop ends well only when asked to, or when the driver gives no
        // more keys (the test driver's end of a session): padmapw ends too.
        if (status == 0 && !paths.empty()) state->quitting = true;
        break;
    }
    // What the console would have shown last says why: a file that cannot be
    // loaded, the driver missing or failing.
    if (status != 0 && !said) {
        console_flush(console_out);
        std::string why = last_log_line(&state->log, log_start);
        if (why.empty()) why = "see its log";
        {
            std::lock_guard<std::mutex> hold(state->lock);
            state->stopped_why = why;
        }
        notify(state, "padmap stopped: " + why);
    }
    tell_tray(state, loop_changed_message);
    return 0;
}

// Starts the loop's thread, with state->lock held. Its handle is the one the end waits on; the thread before,
// whose run ended, needs no waiting.
void start_loop(unseen* state) {
    HANDLE thread = CreateThread(nullptr, 0, loop_thread, state, 0, nullptr);
    if (state->loop_handle != nullptr) CloseHandle(state->loop_handle);
    state->loop_handle = thread;
}

std::string serve(void* context, const std::string& request) {
    return padmapw_command(static_cast<unseen*>(context), request);
}

// A second padmapw hands its files to the one that runs (or asks it to read
// its own again). Returns false when that one does not answer: it is
// ending, and this one takes its place once it is gone.
bool hand_over(int argc, wchar_t** argv) {
    std::string request = argc > 1 ? "load" : "reload";
    for (int i = 1; i < argc; ++i) request += "\t" + utf8_text(full_path(from_wide(argv[i])).c_str());
    std::string answer;
    return ask_padmapw(request, &answer) == control_answered;
}

std::string startup_request(unseen* state, bool on) {
    std::string why;
    std::vector<const char16_t*> argv;
    std::lock_guard<std::mutex> hold(state->lock);
    // Started with the folder's files, it starts at logon with the folder's
    // files of that moment.
    if (!state->from_folder) {
        for (const std::u16string& path : state->paths) argv.push_back(path.c_str());
    }
    bool done = on ? startup_on(static_cast<int>(argv.size()), argv.data(), &why) : startup_off(&why);
    if (!done) return "cannot change what starts at logon: " + why + "\n";
    return on ? "padmapw starts at logon\n" : "padmapw no longer starts at logon\n";
}

// Opens a file as the user's shell would: a log in its viewer, a
// configuration in the program that edits text.
std::string open_file(const std::u16string& path, const wchar_t* verb) {
    auto done = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, verb, wide(path), nullptr, nullptr, SW_SHOWNORMAL));
    // Where no program edits that kind of file, Notepad does.
    if (done <= 32 && verb != nullptr) {
        std::u16string quoted = u"\"" + path + u"\"";
        done = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, nullptr, L"notepad.exe", wide(quoted), nullptr, SW_SHOWNORMAL));
    }
    return done > 32 ? "opening " + utf8_text(path.c_str()) + "\n" : "cannot open " + utf8_text(path.c_str()) + "\n";
}

}  // namespace

std::string refused_files(unseen* state) {
    uint32_t refused = state->report.refused.load();
    std::string names;
    int count = 0;
    for (size_t i = 0; i < state->paths.size() && i < 32; ++i) {
        if (!(refused & (1u << i))) continue;
        const std::u16string& path = state->paths[i];
        names = utf8_text(path.substr(path.find_last_of(u"\\/") + 1).c_str());
        ++count;
    }
    return count > 1 ? std::to_string(count) + " files" : names;
}

namespace {

bool loop_runs(unseen* state) {
    std::lock_guard<std::mutex> hold(state->lock);
    return !state->paths.empty() && state->loop_status < 0;
}

std::string status_line(unseen* state) {
    std::lock_guard<std::mutex> hold(state->lock);
    std::string line = "padmapw runs (process " + std::to_string(GetCurrentProcessId()) + ")";
    if (state->paths.empty()) {
        line += ": no configuration in " + utf8_text(state->config_folder.c_str());
    } else if (state->loop_status >= 0) {
        line += ": stopped (status " + std::to_string(state->loop_status) + ")";
        if (!state->stopped_why.empty()) line += ": " + state->stopped_why;
        line += ", see " + utf8_text(state->log.path.c_str());
    } else if (state->report.paused.load()) {
        line += ": paused";
    } else {
        int keyboards = state->report.keyboards.load();
        line += ": " + std::to_string(keyboards) + (keyboards == 1 ? " keyboard" : " keyboards") + " captured";
    }
    std::string refused = state->loop_status < 0 ? refused_files(state) : "";
    if (!refused.empty()) line += "; " + refused + " not reloaded (the layout in use is older)";
    line += state->icon_shown.load() ? "; tray icon shown\n" : "; no tray icon\n";
    for (const std::u16string& path : state->paths) line += "  " + utf8_text(path.c_str()) + "\n";
    return line;
}

// The notifications this padmapw showed, oldest first, a line each.
std::string notifications_line(unseen* state) {
    std::lock_guard<std::mutex> hold(state->lock);
    if (state->notified.empty()) return "no notification\n";
    std::string lines;
    for (const std::string& text : state->notified) lines += text + "\n";
    return lines;
}

// A loop that ended (a failure, or no file) starts again; a running one
// reads its files again, or starts again when it runs with the folder's
// files and the folder holds others now.
std::string reload(unseen* state, std::vector<std::u16string>* load) {
    std::lock_guard<std::mutex> hold(state->lock);
    state->gave_up.clear();
    bool running = state->loop_status < 0;
    bool others = load != nullptr;
    if (load != nullptr) {
        state->paths = *load;
        state->from_folder = false;
    } else if (state->from_folder) {
        std::vector<std::u16string> now = folder_configs(state->config_folder);
        others = now != state->paths;
        state->paths = now;
    }
    if (running && !others) {
        post_notice(&state->notices, notice_reload);
        return "reloading\n";
    }
    state->restart = true;
    if (running) {
        post_notice(&state->notices, notice_quit);
    } else {
        // Running from here on: a second reload meanwhile asks this loop,
        // it does not start another.
        state->loop_status = -1;
        start_loop(state);
    }
    return "loading\n";
}

// New configuration: the running loop waits for a key of a keyboard no file
// names; without a file, one that names the keyboard of the next key runs.
std::string new_configuration(unseen* state) {
    notify(state, "New configuration: press a key on the keyboard to remap");
    std::lock_guard<std::mutex> hold(state->lock);
    if (!state->paths.empty() && state->loop_status < 0) {
        post_notice(&state->notices, notice_enroll);
    } else {
        state->identify = true;
        state->restart = true;
        if (state->loop_status < 0) {
            post_notice(&state->notices, notice_quit);
        } else {
            state->loop_status = -1;
            start_loop(state);
        }
    }
    return "press a key on the keyboard to remap\n";
}

// A file name made of the id: characters a file name cannot hold become _.
std::u16string file_name_of(const std::u16string& id) {
    std::u16string name;
    for (char16_t unit : id)
        name += std::u16string(u"\\/:*?\"<>|").find(unit) == std::u16string::npos && unit >= 32 ? unit : u'_';
    return name.substr(0, 100);
}

const char new_file_text[] =
    "\r\n"
    "# A configuration of padmap for the keyboard named on the first line (its\r\n"
    "# hardware id: keep it first). Each line maps a key of that keyboard: the\r\n"
    "# key's name, a space, then what it sends: up to 16 keys, comma between them,\r\n"
    "# each with modifiers in front: S- Shift, C- Ctrl, A- Alt, W- Windows (rS-,\r\n"
    "# rC-, rA-, rW-: the right-hand ones). Key names: padmap --monitor shows\r\n"
    "# them, and the README lists them all. Save this file: padmap applies it at\r\n"
    "# once. Two examples; take the # away to use them:\r\n"
    "# F1 C-C\r\n"
    "# F2 C-V\r\n";

}  // namespace

void write_new_configuration(unseen* state) {
    std::u16string id;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        id.swap(state->enrolled);
    }
    if (id.empty()) return;
    std::u16string base = state->config_folder + u"\\" + file_name_of(id);
    std::u16string path = base + u".cfg";
    HANDLE file = INVALID_HANDLE_VALUE;
    // An earlier file of the same keyboard is kept: the new one takes a number.
    for (int n = 2; n < 100; ++n) {
        file = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) break;
        path = base + u" (" + utf16_text(std::to_string(n).c_str()) + u").cfg";
    }
    std::string text = utf8_text(id.c_str()) + new_file_text;
    DWORD written = 0;
    bool done = file != INVALID_HANDLE_VALUE &&
                WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                written == text.size();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!done) {
        notify(state, "New configuration: cannot write " + utf8_text(path.c_str()));
        return;
    }
    console_printf(console_out, "New configuration: %s\n", utf8_text(path.c_str()).c_str());
    notify(state, "New configuration: " + utf8_text(path.c_str()));
    open_file(path, L"edit");
    std::vector<std::u16string> paths;
    bool from_folder = false;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        paths = state->paths;
        from_folder = state->from_folder;
    }
    if (from_folder) {
        reload(state, nullptr);
        return;
    }
    if (paths.size() < static_cast<size_t>(max_config_files)) paths.push_back(path);
    reload(state, &paths);
}

// The requests: status, process, reload, load<TAB>PATH..., pause, resume,
// quit, startup on, startup off, open-log, edit N (the N-th file, from 1),
// new, menu, notifications.
std::string padmapw_command(unseen* state, const std::string& request) {
    if (request == "status") return status_line(state);
    if (request == "notifications") return notifications_line(state);
    if (request == "process") return std::to_string(GetCurrentProcessId()) + "\n";
    if (request == "reload") return reload(state, nullptr);
    if (request.rfind("load\t", 0) == 0) {
        std::vector<std::u16string> paths;
        for (size_t at = 5; at <= request.size() && paths.size() < static_cast<size_t>(max_config_files);) {
            size_t end = std::min(request.find('\t', at), request.size());
            paths.push_back(utf16_text(request.substr(at, end - at).c_str()));
            at = end + 1;
        }
        return reload(state, &paths);
    }
    if (request == "new") return new_configuration(state);
    if (request == "pause" || request == "resume") {
        if (!loop_runs(state)) return "nothing runs to " + request + "\n";
        std::lock_guard<std::mutex> hold(state->lock);
        post_notice(&state->notices, request == "pause" ? notice_pause : notice_resume);
        return request == "pause" ? "pausing\n" : "resuming\n";
    }
    if (request == "quit") {
        bool ended = false;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            state->quitting = true;
            state->restart = false;
            post_notice(&state->notices, notice_quit);
            ended = state->loop_status >= 0;
        }
        if (ended) tell_tray(state, loop_changed_message);
        return "quitting\n";
    }
    if (request == "startup on" || request == "startup off") return startup_request(state, request == "startup on");
    if (request == "open-log") return open_file(state->log.path, nullptr);
    // The menu a right click on the icon opens, where the pointer is.
    if (request == "menu") {
        if (state->window != nullptr) PostMessageW(state->window, tray_icon_message, 0, WM_RBUTTONUP);
        return "showing the menu\n";
    }
    if (request.rfind("edit ", 0) == 0) {
        size_t n = static_cast<size_t>(std::atoi(request.c_str() + 5));
        std::u16string path;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            if (n >= 1 && n <= state->paths.size()) path = state->paths[n - 1];
        }
        return path.empty() ? "no such configuration\n" : open_file(path, L"edit");
    }
    return "unknown request\n";
}

namespace {

// The watcher gone (killed, say), the loop ends as at Quit: it lets go of
// what it holds, since no one else would.
DWORD WINAPI watch_watcher(void* context) {
    auto* state = static_cast<unseen*>(context);
    wchar_t name[128];
    DWORD watcher = 0;
    if (!watched_loop_name(name, sizeof name / sizeof name[0], &watcher)) return 0;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, watcher);
    if (process == nullptr) return 0;
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    padmapw_command(state, "quit");
    return 0;
}

std::string variable_text(const wchar_t* name) {
    wchar_t value[1024];
    DWORD units = GetEnvironmentVariableW(name, value, sizeof value / sizeof value[0]);
    if (units == 0 || units >= sizeof value / sizeof value[0]) return "";
    return utf8_text(reinterpret_cast<const char16_t*>(value));
}

// padmapw as the watcher starts it: the tray, the channel and the key loop.
int run_padmapw(HINSTANCE instance, int argc, wchar_t** argv) {
    // One remapper a session: the name is the session's own.
    HANDLE only = CreateMutexW(nullptr, TRUE, L"Local\\padmapw");
    if (only != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (hand_over(argc, argv)) return 0;
        DWORD gone = WaitForSingleObject(only, handover_limit_ms);
        if (gone != WAIT_OBJECT_0 && gone != WAIT_ABANDONED) return 1;
    }
    std::unique_ptr<unseen> state(new (std::nothrow) unseen);
    if (state == nullptr) return 1;
    state->restart = false;
    state->quitting = false;
    state->loop_status = -1;
    state->window = nullptr;
    state->loop_handle = nullptr;
    state->icon_shown = false;
    state->report.keyboards = 0;
    state->report.paused = false;
    state->report.refused = 0;
    state->report.changed = report_changed;
    state->report.enrolled = report_enrolled;
    state->report.arrived = report_arrived;
    state->identify = false;
    state->report.context = state.get();
    state->config_folder = padmapw_folder(L"APPDATA");
    CreateDirectoryW(wide(state->config_folder), nullptr);
    state->log.handle = os_null_handle;
    open_log_file(&state->log, padmapw_folder(L"LOCALAPPDATA"));
    for (int i = 1; i < argc && i <= max_config_files; ++i) state->paths.push_back(full_path(from_wide(argv[i])));
    state->from_folder = argc == 1;
    if (state->from_folder) state->paths = folder_configs(state->config_folder);
    state->finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!open_notice_queue(&state->notices) || state->finished == nullptr) return 1;
    // Where no window can be made, padmapw remaps all the same, without its
    // icon: the channel still reaches it (padmap --quit ends it).
    if (!open_tray(state.get(), instance)) {
        char why[256];
        os_error_text(os_last_error(), why, sizeof why);
        console_printf(console_out, "padmapw cannot make its window (%s): it runs without its icon\n", why);
    }
    state->gave_up = variable_text(padmapw_gave_up_variable);
    std::string restarted = variable_text(padmapw_restarted_variable);
    if (!restarted.empty()) notify(state.get(), restarted);
    HANDLE watcher = CreateThread(nullptr, 0, watch_watcher, state.get(), 0, nullptr);
    if (watcher != nullptr) CloseHandle(watcher);
    control_server* server = serve_control(serve, state.get());
    {
        std::lock_guard<std::mutex> hold(state->lock);
        start_loop(state.get());
    }
    MSG message;
    while (state->window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (state->window == nullptr) WaitForSingleObject(state->finished, INFINITE);
    stop_control_server(server);
    HANDLE loop = nullptr;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        post_notice(&state->notices, notice_quit);
        loop = state->loop_handle;
    }
    // A loop that does not end in time goes with the process.
    bool ended = loop == nullptr || WaitForSingleObject(loop, loop_end_limit_ms) == WAIT_OBJECT_0;
    close_tray(state.get());
    if (!ended) {
        mark_end(loop_left_keys);
        ExitProcess(1);
    }
    close_notice_queue(&state->notices);
    close_log_file(&state->log);
    return 0;
}

}  // namespace

// Started by the user (or at logon), padmapw is the watcher, and runs as its
// key loop a padmapw started again with the watcher's variable set.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return 1;
    wchar_t name[128];
    if (!watched_loop_name(name, sizeof name / sizeof name[0])) {
        // One remapper a session: the one that runs takes this one's files;
        // one that is ending is waited for, and this one takes its place.
        HANDLE running = OpenMutexW(SYNCHRONIZE, FALSE, watcher_mutex_name);
        if (running != nullptr) {
            bool handed = hand_over(argc, argv);
            DWORD gone = handed ? WAIT_TIMEOUT : WaitForSingleObject(running, handover_limit_ms);
            CloseHandle(running);
            if (handed) return 0;
            if (gone != WAIT_OBJECT_0 && gone != WAIT_ABANDONED) return 1;
        }
        return run_watcher();
    }
    int status = run_padmapw(instance, argc, argv);
    mark_end(loop_ended_cleanly);
    return status;
}
