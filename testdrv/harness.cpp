// Runs the real padmap.exe against the test driver for one session file: the
// session's devices are declared, padmap is started, each line of the session
// happens at the same point of padmap's requests as it did in padmap-replay's
// run (its --steps file), the session is ended where that run ended it, and
// what reached the system is written in padmap-replay's format.
//
//   padmap-testdrv-harness [--requests FILE] [--blocked-stdout] [--hold-report FILE] [--kill-report FILE]
//                          [--unseen [--ask-first R] [--kill-watcher]]
//                          [--front-window EXE --front-folder DIR [--long-path PROGRAM]]
//                          --steps FILE PADMAP_EXE STDOUT_FILE DELIVERED_FILE SESSION [ARG...]
//
// The ARGs are padmap's arguments (configurations, or an option such as
// --monitor); without any padmap runs in identify mode. Each line waits until
// the driver has recorded as many of padmap's requests as the steps file
// gives for it, so it happens while padmap waits for input with nothing in
// hand, as in the simulated driver; a line the simulated run never reached
// is not typed, and the session is ended only when that run met its end. A
// pause waits before the next line; an id line gives a keyboard its new id
// and tells padmap's keyboard watch window as Windows would (an unnoticed-id
// line tells it nothing); freeze suspends
// padmap's process and the lines after it are typed without waiting for it,
// until thaw or the end resumes it; save, replace and remove change the file
// as an editor would, and the session's quiet second follows; a refuse-write
// or short-write line is handed to the driver, which counts from padmap's
// next read of a stroke; an interrupt sends padmap Ctrl+C, after which
// nothing more is typed and padmap must exit on its own. A front line with a
// program starts a copy of the front window program under that program's file
// name on padmap's desktop and waits until its window is in front; a bare
// front line ends every such window and leaves no window in front. padmap
// runs on a desktop of its own, where no window is in front, as at the start
// of a replay. A lock, unlock, suspend or wake line sends padmap's session
// window the message Windows sends (it needs a display); a control line asks
// padmapw through its channel.
//
//   --steps FILE        padmap-replay's --steps file for the same session
//   --requests FILE     every device control padmap made of the filter devices,
//                       one line each as padmap-replay --requests writes them,
//                       with "end of session" where padmap met the end
//   --blocked-stdout    padmap's standard output is a small pipe that nobody
//                       reads while the strokes are typed; it is read into
//                       STDOUT_FILE once they all are
//   --hold-report FILE  one line for each time padmap was held:
//                       "other=N captured=M waiting=W after=A": the strokes of
//                       keyboards it did not capture (N) and of those it did
//                       (M) that reached the system while it was held, the
//                       strokes waiting in the driver when it went on (W), and
//                       the strokes of captured keyboards that reached the
//                       system after it went on, up to the next hold or the end
//   --front-window EXE  the front window program (padmap-front-window.exe),
//                       needed by a session with front lines; its windows
//                       need a display (Wine's DISPLAY set)
//   --front-folder DIR  where its copies are made, one folder for each
//                       program name
//   --unseen            PADMAP_EXE is padmapw.exe (remap mode, whatever its
//                       arguments), on the harness's own desktop: it is asked
//                       to quit once the session ended
//   --ask-first REQUEST with --unseen: padmapw is asked REQUEST through its
//                       channel before the session starts (new: a New
//                       configuration)
//   --kill-report FILE  for each crash line (padmapw's key loop killed): the
//                       ms from the kill to the watcher's last release and to
//                       the next key's first output, a line each
//   --kill-watcher      with --unseen: once the session is typed, padmapw's
//                       watcher is killed; its key loop must end on its own
//   --notifications FILE with --unseen: once the session is typed, what
//                       padmapw answers to "notifications" (the texts of
//                       the notifications it showed)
//   --long-path PROGRAM the copy named PROGRAM lies in folders nested so
//                       deep that its path is longer than 1100 UTF-16
//                       units, more than padmap asks the system for
//
// Exit status: padmap's own; 2 for bad usage or a bad session (nothing run);
// 3 when the driver is missing, padmap hangs past the time limit, did not
// raise its priority, strokes or request records were lost, or a window
// could not be brought to the front or ended.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include <dbt.h>
#include <winternl.h>
#include <wtsapi32.h>

#include "app/control_channel.h"
#include "driver/request_text.h"
#include "keymap/text.h"
#include "replay/session.h"
#include "sim/sim.h"
#include "testdrv/command_line.h"
#include "testdrv/control.h"

extern "C" LONG NTAPI NtSuspendProcess(HANDLE process);
extern "C" LONG NTAPI NtResumeProcess(HANDLE process);

// ntdll's start of a process, as kernel32 makes it: the image named in an
// attribute list, its parameters made by the runtime library.
struct ps_attribute {
    ULONG_PTR attribute;
    SIZE_T size;
    void* value;
    SIZE_T* returned;
};
struct ps_attribute_list {
    SIZE_T total;
    ps_attribute attribute[1];
};
constexpr ULONG_PTR ps_attribute_image_name = 0x20005;
constexpr size_t ps_create_info_bytes = 88;
constexpr ULONG process_parameters_normalised = 1;
extern "C" LONG NTAPI NtCreateUserProcess(HANDLE* process, HANDLE* thread, ACCESS_MASK process_access,
                                          ACCESS_MASK thread_access, void* process_attributes, void* thread_attributes,
                                          ULONG process_flags, ULONG thread_flags,
                                          RTL_USER_PROCESS_PARAMETERS* parameters, void* create_info,
                                          ps_attribute_list* attributes);
extern "C" LONG NTAPI RtlCreateProcessParametersEx(RTL_USER_PROCESS_PARAMETERS** parameters, UNICODE_STRING* image,
                                                   UNICODE_STRING* dll_path, UNICODE_STRING* folder,
                                                   UNICODE_STRING* command, void* environment, UNICODE_STRING* title,
                                                   UNICODE_STRING* desktop, UNICODE_STRING* shell,
                                                   UNICODE_STRING* runtime, ULONG flags);
extern "C" LONG NTAPI RtlDestroyProcessParameters(RTL_USER_PROCESS_PARAMETERS* parameters);

namespace {

constexpr int status_usage = 2;
constexpr int status_failure = 3;
// No single step of padmap takes anywhere near this; only a hang reaches it.
constexpr DWORD step_limit_ms = 15000;
constexpr int take_batch = 256;
constexpr int keyboards = 10;
constexpr size_t path_bytes = 4096;
constexpr int max_holds = 64;
constexpr int max_front_windows = 64;
// Small enough that padmap's log overfills it within a few dozen strokes.
constexpr DWORD blocked_pipe_bytes = 4096;
const wchar_t watch_window_class[] = L"padmap-keyboard-watch";
const wchar_t session_window_class[] = L"padmap-session-watch";
// A program of --long-path lies so deep that its path is longer than this,
// in UTF-16 units: more than padmap asks the system for (MAX_PATH * 4).
constexpr size_t long_path_units = 1100;

const char usage[] =
    "usage: padmap-testdrv-harness [--requests FILE] [--blocked-stdout] [--hold-report FILE] [--kill-report FILE] "
    "[--unseen [--ask-first REQUEST] [--kill-watcher]] "
    "[--front-window EXE --front-folder DIR [--long-path PROGRAM]] --steps FILE PADMAP_EXE STDOUT_FILE DELIVERED_FILE "
    "SESSION [ARG...]\n";

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-harness: %s\n", message);
    return status_failure;
}

HANDLE inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// padmap's standard output: a new file, or the write end of a pipe whose read
// end stays with the harness.
struct padmap_output {
    HANDLE write;
    HANDLE pipe;  // the read end; null for a file
};

bool make_output(const wchar_t* stdout_path, bool blocked, padmap_output* out) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    out->pipe = nullptr;
    if (blocked) {
        if (!CreatePipe(&out->pipe, &out->write, &inherit, blocked_pipe_bytes)) return false;
        return SetHandleInformation(out->pipe, HANDLE_FLAG_INHERIT, 0) != FALSE;
    }
    out->write = CreateFileW(stdout_path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    return out->write != INVALID_HANDLE_VALUE;
}

// padmap's desktop, which the harness's thread joins too: a message-only
// window is found only from a thread of its own desktop. It is new for each
// run: once a window was made on a desktop, Wine counts that desktop's own
// window as the one in front. Wine gives process ids out again soon, so the
// name holds the time too.
wchar_t padmap_desktop[64];

bool join_padmap_desktop() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::swprintf(padmap_desktop, sizeof padmap_desktop / sizeof padmap_desktop[0], L"padmap-harness-%lu-%llx",
                  static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long long>(now.QuadPart));
    HDESK desktop = CreateDesktopW(padmap_desktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    return desktop != nullptr && SetThreadDesktop(desktop);
}

// Starts padmap in a console of its own, so that Ctrl+C can be sent to it
// alone, with every standard handle given explicitly. It stays in the
// harness's process group: a new group would start with Ctrl+C ignored, which
// padmap, like most programs, does not undo. The console has no window: on
// Wine a console window makes its desktop's own window come up a moment
// later, which then counts as the window in front. With a token (null:
// the harness's own) padmap runs as that user.
bool start_padmap(const wchar_t* program, wchar_t* const* args, int arg_count, HANDLE out, HANDLE token,
                  PROCESS_INFORMATION* started) {
    static wchar_t line[command_line_units];
    line[0] = 0;
    if (!append_quoted(line, command_line_units, program)) return false;
    for (int i = 0; i < arg_count; ++i) {
        if (!append_quoted(line, command_line_units, args[i])) return false;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE in =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE err = inheritable(GetStdHandle(STD_ERROR_HANDLE));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = padmap_desktop[0] != 0 ? padmap_desktop : nullptr;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in == INVALID_HANDLE_VALUE ? nullptr : in;
    startup.hStdOutput = out;
    startup.hStdError = err != nullptr ? err : out;
    BOOL ok = token == nullptr ? CreateProcessW(program, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                                nullptr, &startup, started)
                               : CreateProcessAsUserW(token, program, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                                      nullptr, nullptr, &startup, started);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (err != nullptr) CloseHandle(err);
    if (!ok) return false;
    CloseHandle(started->hThread);
    return true;
}

// The driver's form of a session id: UTF-16, null for no id.
const char16_t* driver_id(bool has_id, const char* utf8, size_t* units) {
    static char16_t id[TESTCTL_ID_UNITS + 1];
    *units = has_id ? utf8_to_utf16(utf8, id, TESTCTL_ID_UNITS + 1) : 0;
    return has_id ? id : nullptr;
}

bool declare_devices(testctl_link* link, const session_devices& devices) {
    for (int n = 1; n <= device_count; ++n) {
        const session_device& d = devices.device[n - 1];
        if (!d.declared) continue;
        size_t units;
        const char16_t* id = driver_id(d.has_id, d.id, &units);
        if (!testctl_declare_device(link, n, id, units)) return false;
    }
    return true;
}

// The session's paths are read as UTF-8, as padmap-replay reads them.
bool to_utf8(const wchar_t* text, char* out, size_t cap) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(cap), nullptr, nullptr);
    return size > 0;
}

// One time padmap was held, for the hold report.
struct hold {
    long other;     // strokes of uncaptured keyboards that reached the system meanwhile
    long captured;  // strokes of captured keyboards that did
    long waiting;   // strokes in the driver's queues when it went on
    long after;     // strokes of captured keyboards delivered after it went on
};

// How typing ended, and so what the harness does before padmap can exit.
enum typing_end {
    typed_all,        // the simulated run met the end here too: the session is ended
    typed_as_far,     // padmap stopped by itself in the simulated run at this point
    typed_interrupt,  // padmap was sent Ctrl+C
    padmap_gone,      // padmap exited while lines were still to come
};

// A window brought to the front for a front line: a process of a copy of the
// front window program.
struct front_window {
    HANDLE process;
    DWORD process_id;
    HWND window;  // null until it is seen in front
};

struct session_run {
    testctl_link* link;
    PROCESS_INFORMATION padmap;
    std::FILE* delivered;
    std::FILE* requests;  // null: the record is dropped
    std::FILE* steps;
    const char* session_path;  // UTF-8
    HANDLE pipe;               // padmap's standard output while blocked; null otherwise
    std::FILE* stdout_copy;
    bool remap;     // padmap runs remap mode, which watches keyboards
    bool unseen;    // padmap is padmapw: its key loop runs in a child process
    bool attached;  // the harness shares padmap's console for Ctrl+C
    bool priority_checked;
    unsigned long requests_seen;  // padmap's requests taken from the driver so far
    bool held;
    bool captured[keyboards];  // the keyboards whose filter was set when padmap was held last
    hold holds[max_holds];
    int hold_count;
    typing_end end;
    const wchar_t* front_program;  // the front window program; null: front lines cannot be followed
    const wchar_t* front_folder;
    const wchar_t* long_path_program;  // --long-path: the program whose copy lies deep; null for none
    front_window fronts[max_front_windows];
    int front_count;
    std::string front_names[max_front_windows];  // the program of each copy made, UTF-8; the copy is in folder i
    int front_name_count;
    // Kills of padmapw's key loop: when each was made and when the next key
    // was typed after it (performance counter), and when each record reached
    // the system (the driver's clock, the same counter).
    std::vector<int64_t> kills, typed_after_kill, delivered_times;
};

bool padmap_exited(const session_run* run) {
    return WaitForSingleObject(run->padmap.hProcess, 0) == WAIT_OBJECT_0;
}

hold* last_hold(session_run* run) {
    return run->hold_count > 0 && run->hold_count <= max_holds ? &run->holds[run->hold_count - 1] : nullptr;
}

// Counts a delivered record for the hold report.
void note_delivered(session_run* run, int device) {
    hold* current = last_hold(run);
    if (current == nullptr) return;
    bool captured = device >= 1 && device <= keyboards && run->captured[device - 1];
    if (run->held) {
        ++(captured ? current->captured : current->other);
    } else if (captured) {
        ++current->after;
    }
}

bool write_delivered(session_run* run) {
    static testctl_delivered records[take_batch];
    for (;;) {
        int n = testctl_take_delivered(run->link, records, take_batch);
        if (n < 0) return false;
        if (n == 0) return true;
        for (int i = 0; i < n; ++i) {
            const uint8_t* r = records[i].record;
            unsigned make = 0, state = 0;
            unsigned long extra = 0;
            // A mouse record has no key fields; it is listed with zeros.
            if (records[i].size == 12) {
                make = r[2] | (r[3] << 8);
                state = r[4] | (r[5] << 8);
                extra = r[8] | (r[9] << 8) | (r[10] << 16) | (static_cast<unsigned long>(r[11]) << 24);
            }
            note_delivered(run, static_cast<int>(records[i].device));
            run->delivered_times.push_back(records[i].time);
            if (std::fprintf(run->delivered, "%u %04x %04x %08lx\n", static_cast<unsigned>(records[i].device), make,
                             state, extra) < 0) {
                return false;
            }
        }
    }
}

// Takes the driver's request record into the requests file (if any),
// counting padmap's requests. Returns null, or what went wrong; a record the
// driver had to drop is a failure, as the comparison would miss it.
const char* write_requests(session_run* run) {
    static testctl_request records[take_batch];
    for (;;) {
        int n = testctl_take_requests(run->link, records, take_batch);
        if (n < 0) return "the test driver stopped answering";
        if (n == 0) break;
        for (int i = 0; i < n; ++i) {
            const testctl_request& r = records[i];
            char line[request_text_size] = "end of session\n";
            size_t length = std::strlen(line);
            if (r.kind == TESTCTL_REQUEST_CONTROL) {
                ++run->requests_seen;
                request_note note = {static_cast<int>(r.device), r.code,      r.input_size, r.output_size, r.filter,
                                     r.handle_names_event != 0,  r.done != 0, r.returned};
                length = request_text(note, line, sizeof line);
            }
            if (run->requests != nullptr && std::fwrite(line, 1, length, run->requests) != length) {
                return "writing the requests failed";
            }
        }
    }
    testctl_status status;
    if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
    if (status.requests_lost > 0) return "the test driver lost request records";
    return nullptr;
}

const char* drain_driver(session_run* run) {
    if (!write_delivered(run)) return "writing the delivered strokes failed";
    return write_requests(run);
}

// padmap raises its priority before it opens the driver, so by its first
// request it must have.
const char* check_priority(session_run* run) {
    if (run->priority_checked || run->requests_seen == 0 || padmap_exited(run)) return nullptr;
    run->priority_checked = true;
    if (GetPriorityClass(run->padmap.hProcess) != HIGH_PRIORITY_CLASS) return "padmap did not raise its priority";
    return nullptr;
}

enum wait_result { wait_ready, wait_exited, wait_timed_out, wait_broken };

// Waits until the driver has recorded step of padmap's requests, taking the
// record meanwhile. The record is looked at once more after an exit, so a
// step reached just before it counts.
wait_result wait_for_step(session_run* run, unsigned long step, const char** problem) {
    DWORD started = GetTickCount();
    for (;;) {
        bool exited = padmap_exited(run);
        if ((*problem = drain_driver(run)) != nullptr) return wait_broken;
        if (run->requests_seen >= step) {
            *problem = check_priority(run);
            return *problem == nullptr ? wait_ready : wait_broken;
        }
        if (exited) return wait_exited;
        if (GetTickCount() - started > step_limit_ms) return wait_timed_out;
        WaitForSingleObject(run->padmap.hProcess, 1);
    }
}

// Reads the next line of the steps file; false at its end.
bool next_step(session_run* run, unsigned long* step) {
    return std::fscanf(run->steps, "%lu", step) == 1;
}

// Ctrl+C reaches every process of a console, as when the user presses it in
// padmap's window, so the harness joins that console for a while, ignoring
// the event itself; it leaves once padmap has exited. A padmap that exits
// meanwhile (with no keyboard it never waits) needs no Ctrl+C.
const char* interrupt_padmap(session_run* run) {
    run->end = typed_interrupt;
    FreeConsole();
    if (!AttachConsole(run->padmap.dwProcessId)) {
        run->end = padmap_gone;
        return padmap_exited(run) ? nullptr : "padmap's console cannot be joined";
    }
    run->attached = true;
    SetConsoleCtrlHandler(nullptr, TRUE);
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) && !padmap_exited(run)) return "Ctrl+C cannot be sent to padmap";
    return nullptr;
}

void leave_console(session_run* run) {
    if (!run->attached) return;
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    run->attached = false;
}

// padmap's keyboard watch window, or null when it has none (yet).
// The process whose windows hear of keyboards and of the session: padmap's,
// or padmapw's key loop as its channel names it (0 while it cannot).
DWORD key_loop_process(const session_run* run) {
    if (!run->unseen) return run->padmap.dwProcessId;
    std::string answer;
    if (ask_padmapw("process", &answer) != control_answered) return 0;
    return static_cast<DWORD>(std::strtoul(answer.c_str(), nullptr, 10));
}

// The window of the class that padmap's key loop made (parent HWND_MESSAGE:
// a message-only one, null: a top-level one); null while there is none.
HWND key_loop_window(const session_run* run, HWND parent, const wchar_t* class_name) {
    DWORD loop = key_loop_process(run);
    HWND window = nullptr;
    while (loop != 0 && (window = FindWindowExW(parent, window, class_name, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == loop) return window;
    }
    return nullptr;
}

// Tells padmap that keyboards came or went, as the system's device
// notification does. Only remap mode listens; it makes its window once it has
// asked every keyboard at the start, which may be just after the step that
// brought the harness here. A held padmap finds the message waiting when it
// goes on.
const char* tell_keyboards_changed(session_run* run) {
    if (!run->remap) return nullptr;
    DWORD started = GetTickCount();
    HWND window;
    while ((window = key_loop_window(run, HWND_MESSAGE, watch_window_class)) == nullptr) {
        if (padmap_exited(run)) return nullptr;
        if (run->held || GetTickCount() - started > step_limit_ms) return "padmap has no keyboard watch window";
        WaitForSingleObject(run->padmap.hProcess, 1);
    }
    if (run->held) {
        return PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0) ? nullptr
                                                                              : "the device notice cannot be posted";
    }
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG, step_limit_ms,
                             &answer)) {
        return padmap_exited(run) ? nullptr : "padmap's keyboard watch window did not take the device notice";
    }
    return nullptr;
}

// Tells padmap's session window of a lock, an unlock, a suspend or a wake,
// as Windows does: the window is a hidden top-level one of padmap's.
const char* tell_session(session_run* run, UINT message, WPARAM what) {
    DWORD started = GetTickCount();
    HWND window = nullptr;
    while ((window = key_loop_window(run, nullptr, session_window_class)) == nullptr) {
        if (padmap_exited(run)) return nullptr;
        if (GetTickCount() - started > step_limit_ms) return "padmap has no session window (is there a display?)";
        WaitForSingleObject(run->padmap.hProcess, 1);
    }
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, what, 0, SMTO_ABORTIFHUNG, step_limit_ms, &answer)) {
        return padmap_exited(run) ? nullptr : "padmap's session window did not take the message";
    }
    return nullptr;
}

// A command of padmapw's tray, through its channel.
const char* control_padmapw(const char* request) {
    std::string answer;
    return ask_padmapw(request, &answer) == control_answered ? nullptr : "padmapw did not answer its channel";
}

int64_t counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// For each kill: the milliseconds from the kill to the last record that
// reached the system before the next key was typed (the watcher's last
// release; 0 when it released nothing), and to the first record after that
// key (the key translated by the loop started again).
bool write_kill_report(const session_run* run, const wchar_t* path) {
    std::FILE* out = _wfopen(path, L"w");
    if (out == nullptr) return false;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double per_ms = static_cast<double>(frequency.QuadPart) / 1000.0;
    for (size_t k = 0; k < run->kills.size() && k < run->typed_after_kill.size(); ++k) {
        int64_t killed = run->kills[k], typed = run->typed_after_kill[k], released = killed, translated = -1;
        for (int64_t at : run->delivered_times) {
            if (at > killed && at < typed) released = at;
            if (at >= typed && translated < 0) translated = at;
        }
        std::fprintf(out, "%.1f %.1f\n", (released - killed) / per_ms,
                     translated < 0 ? -1.0 : (translated - killed) / per_ms);
    }
    return std::fclose(out) == 0;
}

// padmapw's key loop, as its channel names its process, opened for access
// into loop; null, or what went wrong.
const char* open_key_loop(const session_run* run, DWORD access, HANDLE* loop) {
    DWORD pid = key_loop_process(run);
    if (pid == 0) return "padmapw did not answer its channel";
    *loop = OpenProcess(access, FALSE, pid);
    return *loop != nullptr ? nullptr : "padmapw's key loop cannot be opened";
}

// padmapw's key loop killed as Task Manager's End task kills it, with exit
// code 1; the harness goes on once it is gone (the watcher then releases
// and starts a new one).
const char* kill_key_loop(session_run* run) {
    HANDLE loop = nullptr;
    if (const char* problem = open_key_loop(run, PROCESS_TERMINATE | SYNCHRONIZE, &loop)) return problem;
    run->kills.push_back(counter_now());
    bool killed = TerminateProcess(loop, 1) && WaitForSingleObject(loop, 10000) == WAIT_OBJECT_0;
    CloseHandle(loop);
    return killed ? nullptr : "padmapw's key loop cannot be killed";
}

// padmapw's watcher (the process the harness started) killed once the
// session is typed: its key loop must end on its own, letting go of what it
// holds, within the step limit.
const char* kill_watcher(session_run* run) {
    HANDLE loop = nullptr;
    if (const char* problem = open_key_loop(run, SYNCHRONIZE, &loop)) return problem;
    bool killed = TerminateProcess(run->padmap.hProcess, 1) != 0;
    bool ended = killed && WaitForSingleObject(loop, step_limit_ms) == WAIT_OBJECT_0;
    CloseHandle(loop);
    if (!killed) return "padmapw's watcher cannot be killed";
    return ended ? nullptr : "padmapw's key loop did not end when its watcher was killed";
}

// --notifications: padmapw's answer, as it gives it.
const char* write_notifications(const wchar_t* path) {
    std::string answer;
    if (ask_padmapw("notifications", &answer) != control_answered) return "padmapw did not answer its channel";
    std::FILE* out = _wfopen(path, L"wb");
    if (out == nullptr) return "the notifications file cannot be written";
    bool written = std::fwrite(answer.data(), 1, answer.size(), out) == answer.size();
    return std::fclose(out) == 0 && written ? nullptr : "the notifications file cannot be written";
}

// --ask-first: once padmapw answers its channel, the request (ASCII).
const char* ask_first(session_run* run, const wchar_t* request) {
    std::string text;
    for (const wchar_t* at = request; *at != 0; ++at) text += static_cast<char>(*at);
    DWORD started = GetTickCount();
    std::string answer;
    while (ask_padmapw("process", &answer) != control_answered) {
        if (padmap_exited(run) || GetTickCount() - started > step_limit_ms) return "padmapw never answered its channel";
        WaitForSingleObject(run->padmap.hProcess, 10);
    }
    return control_padmapw(text.c_str());
}

const char* freeze_padmap(session_run* run) {
    if (run->held) return nullptr;
    if (const char* problem = drain_driver(run)) return problem;
    testctl_status status;
    if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
    if (NtSuspendProcess(run->padmap.hProcess) < 0) return "padmap cannot be suspended";
    run->held = true;
    for (int i = 0; i < keyboards; ++i) run->captured[i] = status.filter[i] != 0;
    if (run->hold_count < max_holds) run->holds[run->hold_count] = hold{0, 0, 0, 0};
    ++run->hold_count;
    return nullptr;
}

const char* thaw_padmap(session_run* run) {
    if (!run->held) return nullptr;
    if (const char* problem = drain_driver(run)) return problem;
    testctl_status status;
    if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
    if (hold* current = last_hold(run)) {
        for (int i = 0; i < TESTCTL_DEVICES; ++i) current->waiting += status.queued[i];
    }
    run->held = false;
    if (NtResumeProcess(run->padmap.hProcess) < 0) return "padmap cannot be resumed";
    return nullptr;
}

// An editor's save, as padmap-replay makes it: in place, or a new file
// renamed over the old one, or the file removed; then the quiet in which
// padmap lets the change settle and reads the file again.
const char* change_file(session_run* run, const session_item& item) {
    if (!change_session_file(run->session_path, item)) return "the session cannot change a configuration file";
    Sleep(sim_settle_ms);
    return nullptr;
}

// Waits until the window in front on padmap's desktop, which the harness's
// thread shares, belongs to the process (its id), or with id 0 until no
// window is in front; *window is then that window. Returns null, or what went
// wrong: a process that exits first never brings its window.
const char* wait_for_front(HANDLE process, DWORD process_id, HWND* window) {
    DWORD started = GetTickCount();
    for (;;) {
        HWND front = GetForegroundWindow();
        DWORD owner = 0;
        if (front != nullptr) GetWindowThreadProcessId(front, &owner);
        if (process_id == 0 ? front == nullptr : owner == process_id) {
            *window = front;
            return nullptr;
        }
        if (GetTickCount() - started > step_limit_ms) {
            return process_id == 0 ? "a window stays in front" : "the window did not come to the front in time";
        }
        if (process == nullptr) {
            Sleep(1);
        } else if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) {
            return "the front window program exited before its window came to the front";
        }
    }
}

// The copy of the front window program under the program's name: one folder
// for each name, made when the name first comes, so that a second window of
// the same program is of the same file, and names that differ only in case
// (one file to Wine) never share a folder.
const char* front_program_copy(session_run* run, const char* program, std::wstring* path) {
    int folder = 0;
    while (folder < run->front_name_count && run->front_names[folder] != program) ++folder;
    wchar_t name[session_max_line_bytes + 1];
    if (MultiByteToWideChar(CP_UTF8, 0, program, -1, name, session_max_line_bytes + 1) <= 0) {
        return "the program's name cannot be a file name";
    }
    std::wstring directory = std::wstring(run->front_folder) + L"\\" + std::to_wstring(folder);
    bool deep = run->long_path_program != nullptr && std::wcscmp(name, run->long_path_program) == 0;
    while (deep && directory.size() < long_path_units) directory += L"\\" + std::wstring(200, L'p');
    *path = directory + L"\\" + name;
    if (folder < run->front_name_count) return nullptr;
    if (folder == max_front_windows) return "the session brings too many programs to the front";
    // Each folder on the way is made, by a path that may be longer than MAX_PATH.
    CreateDirectoryW(run->front_folder, nullptr);
    for (size_t end = std::wcslen(run->front_folder) + 1; end != std::wstring::npos;) {
        end = directory.find(L'\\', end + 1);
        std::wstring part = L"\\\\?\\" + directory.substr(0, end);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return "a folder for a program cannot be made";
        }
    }
    if (!CopyFileW(run->front_program, (L"\\\\?\\" + *path).c_str(), FALSE)) {
        return "the front window program cannot be copied";
    }
    run->front_names[run->front_name_count++] = program;
    return nullptr;
}

// The system's own start of a program, which takes a path of any length
// (Wine's CreateProcessW takes none longer than MAX_PATH), on padmap's
// desktop. Returns the process, or null.
HANDLE start_native(const std::wstring& path, wchar_t* line) {
    std::wstring nt_path = L"\\??\\" + path;
    UNICODE_STRING image = {};
    UNICODE_STRING command = {};
    UNICODE_STRING desktop = {};
    RtlInitUnicodeString(&image, path.c_str());
    RtlInitUnicodeString(&command, line);
    RtlInitUnicodeString(&desktop, padmap_desktop);
    RTL_USER_PROCESS_PARAMETERS* parameters = nullptr;
    if (RtlCreateProcessParametersEx(&parameters, &image, nullptr, nullptr, &command, nullptr, nullptr, &desktop,
                                     nullptr, nullptr, process_parameters_normalised) < 0) {
        return nullptr;
    }
    uint8_t create_info[ps_create_info_bytes] = {};
    *reinterpret_cast<SIZE_T*>(create_info) = sizeof create_info;
    ps_attribute_list attributes = {sizeof attributes, {}};
    attributes.attribute[0] = ps_attribute{ps_attribute_image_name, nt_path.size() * sizeof(wchar_t),
                                           const_cast<wchar_t*>(nt_path.c_str()), nullptr};
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    LONG status = NtCreateUserProcess(&process, &thread, PROCESS_ALL_ACCESS, THREAD_ALL_ACCESS, nullptr, nullptr, 0, 0,
                                      parameters, create_info, &attributes);
    RtlDestroyProcessParameters(parameters);
    if (status < 0) return nullptr;
    CloseHandle(thread);
    return process;
}

// A front line with a program: a new window of that program, on padmap's
// desktop, that brings itself to the front as a program the user switches
// to does; the line is done once it is in front.
const char* bring_to_front(session_run* run, const char* program) {
    if (run->front_program == nullptr) return "a window cannot be brought to the front without --front-window";
    if (run->front_count == max_front_windows) return "the session brings too many windows to the front";
    std::wstring path;
    if (const char* problem = front_program_copy(run, program, &path)) return problem;
    static wchar_t line[command_line_units];
    line[0] = 0;
    if (!append_quoted(line, command_line_units, path.c_str())) return "the program's path is too long";
    HANDLE process = start_native(path, line);
    if (process == nullptr) return "the front window program cannot be started";
    front_window& front = run->fronts[run->front_count++];
    front = front_window{process, GetProcessId(process), nullptr};
    return wait_for_front(front.process, front.process_id, &front.window);
}

// Ends every window brought to the front, in the order they came, so the one
// in front ends last; each is told to close and must exit on its own.
// Returns null, or what went wrong (the process is then ended by force).
const char* end_front_windows(session_run* run) {
    const char* problem = nullptr;
    for (int i = 0; i < run->front_count; ++i) {
        front_window& front = run->fronts[i];
        if (front.process == nullptr) continue;
        bool told = front.window != nullptr && PostMessageW(front.window, WM_CLOSE, 0, 0);
        if (!told || WaitForSingleObject(front.process, step_limit_ms) != WAIT_OBJECT_0) {
            TerminateProcess(front.process, status_failure);
            WaitForSingleObject(front.process, step_limit_ms);
            if (told && problem == nullptr) problem = "a front window did not close in time";
        }
        CloseHandle(front.process);
        front.process = nullptr;
    }
    return problem;
}

// A bare front line, and the start of a session with front lines: no window
// in front. With the windows of the front lines gone, one window may still
// be in front: the desktop's own, which belongs to explorer.exe and comes to
// the front when the desktop gets it. The harness then brings a window of its
// own that is never shown to the front and destroys it: Wine finds no other
// window to take its place. (A window that was shown is withdrawn from the
// display when destroyed, and Wine waits two seconds for a window manager
// that Xvfb does not have.)
const char* leave_no_window_in_front(session_run* run) {
    if (const char* problem = end_front_windows(run)) return problem;
    if (GetForegroundWindow() != nullptr) {
        HWND hidden = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        if (hidden == nullptr) return "the harness cannot make a window";
        SetForegroundWindow(hidden);
        DestroyWindow(hidden);
    }
    HWND none;
    return wait_for_front(nullptr, 0, &none);
}

// Does what one line of the session says. Returns null, or what went wrong.
const char* perform(session_run* run, const session_item& next) {
    switch (next.kind) {
    case session_key:
        if (run->typed_after_kill.size() < run->kills.size()) run->typed_after_kill.push_back(counter_now());
        if (!testctl_push_key(run->link, next.device, next.key.make_code, next.key.key_state, next.key.extra_info)) {
            // A held padmap reads nothing, and a keyboard's queue in the driver
            // holds 64 strokes, as the simulated driver's does: a session that
            // types more on one held keyboard cannot be mirrored.
            return run->held ? "the test driver refused a stroke: a keyboard's queue is full while padmap is held"
                             : "the test driver refused a stroke";
        }
        return nullptr;
    case session_pause: Sleep(next.pause_ms); return nullptr;
    case session_interrupt: return interrupt_padmap(run);
    case session_id:
    case session_unnoticed_id: {
        size_t units;
        const char16_t* id = driver_id(next.has_id, next.id, &units);
        if (!testctl_change_id(run->link, next.device, id, units)) return "the test driver refused an id change";
        return next.kind == session_id ? tell_keyboards_changed(run) : nullptr;
    }
    case session_freeze: return freeze_padmap(run);
    case session_thaw: return thaw_padmap(run);
    case session_short_write:
        if (!testctl_short_write(run->link, next.write_number, next.write_bytes, next.write_refused)) {
            return "the test driver refused a short or refused write";
        }
        return nullptr;
    case session_save:
    case session_replace:
    case session_remove: return change_file(run, next);
    case session_front: return next.has_id ? bring_to_front(run, next.id) : leave_no_window_in_front(run);
    // The stage leaves sessions with these to padmap-replay: the test driver
    // cannot break padmap's wait or read.
    case session_fail_wait:
    case session_fail_read: return "a driver failure cannot be made through the test driver";
    case session_lock: return tell_session(run, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
    case session_unlock: return tell_session(run, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
    case session_suspend: return tell_session(run, WM_POWERBROADCAST, PBT_APMSUSPEND);
    case session_wake: return tell_session(run, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    case session_control_reload: return control_padmapw("reload");
    case session_control_pause: return control_padmapw("pause");
    case session_control_resume: return control_padmapw("resume");
    case session_control_quit: return control_padmapw("quit");
    case session_crash: return kill_key_loop(run);
    }
    return nullptr;
}

const char* waited(wait_result result, const char* problem, session_run* run) {
    switch (result) {
    case wait_ready: return nullptr;
    case wait_exited: run->end = padmap_gone; return nullptr;
    case wait_timed_out: return "padmap did not come back for input in time";
    case wait_broken: return problem;
    }
    return problem;
}

// Types the session's lines, each at its step. Returns null when they went
// through as the simulated run says, or what went wrong.
const char* type_session(session_run* run, session_reader* reader) {
    run->end = typed_all;
    session_item next;
    while (session_next(reader, &next)) {
        unsigned long step;
        // The simulated run never came to this line: padmap stopped before.
        if (!next_step(run, &step)) {
            run->end = typed_as_far;
            return nullptr;
        }
        if (!run->held) {
            const char* problem = nullptr;
            if (const char* failed = waited(wait_for_step(run, step, &problem), problem, run)) return failed;
            if (run->end == padmap_gone) return nullptr;
        }
        if (const char* problem = perform(run, next)) return problem;
        if (run->end == typed_interrupt || run->end == padmap_gone) return nullptr;
    }
    // The end of the session lets a held padmap go on, as in the simulated run.
    if (const char* problem = thaw_padmap(run)) return problem;
    unsigned long step;
    if (!next_step(run, &step)) {
        run->end = typed_as_far;
        return nullptr;
    }
    const char* problem = nullptr;
    return waited(wait_for_step(run, step, &problem), problem, run);
}

// Moves what waits in padmap's output pipe to the stdout file.
bool copy_pipe(session_run* run) {
    static char buffer[65536];
    for (;;) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(run->pipe, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) return true;
        DWORD got = 0;
        if (!ReadFile(run->pipe, buffer, waiting < sizeof buffer ? waiting : sizeof buffer, &got, nullptr)) return true;
        if (std::fwrite(buffer, 1, got, run->stdout_copy) != got) return false;
    }
}

// Waits for padmap to exit, reading its output pipe meanwhile. Returns null
// or what went wrong.
const char* wait_for_exit(session_run* run) {
    DWORD started = GetTickCount();
    for (;;) {
        if (run->pipe != nullptr && !copy_pipe(run)) return "writing padmap's output failed";
        DWORD slice = run->pipe != nullptr ? 5 : step_limit_ms;
        if (WaitForSingleObject(run->padmap.hProcess, slice) == WAIT_OBJECT_0) break;
        if (GetTickCount() - started > step_limit_ms) return "padmap did not exit in time";
    }
    if (run->pipe != nullptr && !copy_pipe(run)) return "writing padmap's output failed";
    return nullptr;
}

bool write_hold_report(const session_run* run, const wchar_t* path) {
    std::FILE* out = _wfopen(path, L"wb");
    if (out == nullptr) return false;
    bool ok = true;
    for (int i = 0; i < run->hold_count && i < max_holds; ++i) {
        const hold& h = run->holds[i];
        ok = ok && std::fprintf(out, "other=%ld captured=%ld waiting=%ld after=%ld\n", h.other, h.captured, h.waiting,
                                h.after) > 0;
    }
    return std::fclose(out) == 0 && ok;
}

struct options {
    const wchar_t* requests;
    const wchar_t* steps;
    const wchar_t* hold_report;
    const wchar_t* kill_report;
    const wchar_t* front_window;
    const wchar_t* front_folder;
    const wchar_t* long_path;
    bool blocked_stdout;
    bool unseen;
    bool kill_watcher;
    const wchar_t* ask_first;
    const wchar_t* notifications;
    const wchar_t* program;
    const wchar_t* stdout_path;
    const wchar_t* delivered_path;
    const wchar_t* session;
    wchar_t** args;  // padmap's own
    int arg_count;
};

bool parse_options(int argc, wchar_t** argv, options* out) {
    *out = options{};
    int at = 1;
    for (; at < argc; ++at) {
        const wchar_t** file = nullptr;
        if (std::wcscmp(argv[at], L"--requests") == 0) file = &out->requests;
        if (std::wcscmp(argv[at], L"--steps") == 0) file = &out->steps;
        if (std::wcscmp(argv[at], L"--hold-report") == 0) file = &out->hold_report;
        if (std::wcscmp(argv[at], L"--kill-report") == 0) file = &out->kill_report;
        if (std::wcscmp(argv[at], L"--front-window") == 0) file = &out->front_window;
        if (std::wcscmp(argv[at], L"--front-folder") == 0) file = &out->front_folder;
        if (std::wcscmp(argv[at], L"--long-path") == 0) file = &out->long_path;
        if (std::wcscmp(argv[at], L"--ask-first") == 0) file = &out->ask_first;
        if (std::wcscmp(argv[at], L"--notifications") == 0) file = &out->notifications;
        if (file != nullptr) {
            if (at + 1 >= argc || *file != nullptr) return false;
            *file = argv[++at];
        } else if (std::wcscmp(argv[at], L"--blocked-stdout") == 0 && !out->blocked_stdout) {
            out->blocked_stdout = true;
        } else if (std::wcscmp(argv[at], L"--unseen") == 0 && !out->unseen) {
            out->unseen = true;
        } else if (std::wcscmp(argv[at], L"--kill-watcher") == 0 && !out->kill_watcher) {
            out->kill_watcher = true;
        } else {
            break;
        }
    }
    if (argc - at < 4 || out->steps == nullptr ||
        ((out->ask_first != nullptr || out->notifications != nullptr || out->kill_watcher) && !out->unseen)) {
        return false;
    }
    if ((out->front_window == nullptr) != (out->front_folder == nullptr)) return false;
    if (out->long_path != nullptr && out->front_window == nullptr) return false;
    out->program = argv[at];
    out->stdout_path = argv[at + 1];
    out->delivered_path = argv[at + 2];
    out->session = argv[at + 3];
    out->args = argv + at + 4;
    out->arg_count = argc - at - 4;
    return true;
}

// A front line needs windows of other programs brought to the front, which
// takes the front window program: without it such a session is refused
// before anything runs.
bool brings_window_to_front(const char* session_path) {
    session_reader reader;
    if (!session_open(&reader, session_path)) return false;
    session_item item;
    bool front = false;
    while (!front && session_next(&reader, &item)) front = item.kind == session_front;
    session_close(&reader);
    return front;
}

// padmap's mode as its entry decides it: no argument is identify mode, an
// option its own mode, anything else configurations for remap mode.
bool runs_remap(const options& opts) {
    return opts.arg_count > 0 && opts.args[0][0] != L'-' && std::wcscmp(opts.args[0], L"/?") != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    options opts;
    if (!parse_options(argc, argv, &opts)) {
        std::fputs(usage, stderr);
        return status_usage;
    }
    static char session_path[path_bytes];
    if (!to_utf8(opts.session, session_path, path_bytes)) {
        std::fputs("padmap-testdrv-harness: the session path is too long\n", stderr);
        return status_usage;
    }

    session_devices devices;
    char message[session_message_size];
    if (!session_check(session_path, &devices, message, sizeof message)) {
        std::fprintf(stderr, "padmap-testdrv-harness: %s\n", message);
        return status_usage;
    }
    bool fronts = brings_window_to_front(session_path);
    if (fronts && opts.front_window == nullptr) {
        std::fprintf(stderr,
                     "padmap-testdrv-harness: %s brings a window to the front (a front line), which needs "
                     "--front-window\n",
                     session_path);
        return status_usage;
    }
    session_reader reader;
    if (!session_open(&reader, session_path)) return fail("the session file cannot be opened");
    session_run run = {};
    run.session_path = session_path;
    run.remap = opts.unseen || runs_remap(opts);
    run.unseen = opts.unseen;
    run.front_program = opts.front_window;
    run.front_folder = opts.front_folder;
    run.long_path_program = opts.long_path;
    run.steps = _wfopen(opts.steps, L"rb");
    if (run.steps == nullptr) return fail("the steps file cannot be read");
    run.delivered = _wfopen(opts.delivered_path, L"wb");
    if (run.delivered == nullptr) return fail("the delivered file cannot be written");
    if (opts.requests != nullptr) {
        run.requests = _wfopen(opts.requests, L"wb");
        if (run.requests == nullptr) return fail("the requests file cannot be written");
    }
    if (opts.blocked_stdout) {
        run.stdout_copy = _wfopen(opts.stdout_path, L"wb");
        if (run.stdout_copy == nullptr) return fail("the stdout file cannot be written");
    }
    // padmapw's tray and menu are for the user's desktop (its picture is taken there).
    if (!opts.unseen && !join_padmap_desktop()) return fail("padmap's desktop cannot be made");

    testctl_link link = {};
    run.link = &link;
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !declare_devices(&link, devices)) return fail("the test driver refused the devices");
    // The desktop's own window is made here, not when padmap makes its first
    // window, so that it comes to the front, and is sent away, before padmap
    // starts.
    if (fronts || opts.unseen) {
        GetDesktopWindow();
    }
    if (fronts) {
        if (const char* problem = leave_no_window_in_front(&run)) return fail(problem);
    }

    padmap_output output;
    if (!make_output(opts.stdout_path, opts.blocked_stdout, &output)) return fail("padmap's output cannot be made");
    run.pipe = output.pipe;
    // padmap has administrator rights when the session says so (an
    // elevated line), as in padmap-replay, and not otherwise.
    HANDLE limited = devices.elevated ? nullptr : limited_token();
    bool started = start_padmap(opts.program, opts.args, opts.arg_count, output.write, limited, &run.padmap);
    if (limited != nullptr) CloseHandle(limited);
    CloseHandle(output.write);
    if (!started) return fail("padmap cannot be started");

    const char* problem = opts.ask_first != nullptr ? ask_first(&run, opts.ask_first) : nullptr;
    if (problem == nullptr) problem = type_session(&run, &reader);
    session_close(&reader);
    if (problem == nullptr && opts.notifications != nullptr && run.end == typed_all) {
        problem = write_notifications(opts.notifications);
    }
    if (problem == nullptr && opts.kill_watcher) problem = kill_watcher(&run);
    if (problem == nullptr && run.end == typed_all && !testctl_end(&link)) problem = "the session cannot be ended";
    // padmapw stays with its tray once its loop ended: it is asked to go.
    if (problem == nullptr && opts.unseen && !padmap_exited(&run)) problem = control_padmapw("quit");
    // A padmap left held by a failure is let go, so that it can be ended.
    if (run.held) NtResumeProcess(run.padmap.hProcess);
    if (problem == nullptr) problem = wait_for_exit(&run);
    leave_console(&run);
    DWORD status = status_failure;
    if (problem != nullptr) {
        TerminateProcess(run.padmap.hProcess, status_failure);
        WaitForSingleObject(run.padmap.hProcess, step_limit_ms);
    } else {
        GetExitCodeProcess(run.padmap.hProcess, &status);
    }
    CloseHandle(run.padmap.hProcess);
    const char* fronts_ended = end_front_windows(&run);
    if (problem == nullptr) problem = fronts_ended;

    if (problem == nullptr) problem = drain_driver(&run);
    testctl_status final_status = {};
    if (problem == nullptr && !testctl_get_status(&link, &final_status)) problem = "the test driver stopped answering";
    if (problem == nullptr && final_status.lost > 0) problem = "the test driver lost delivered strokes";
    testctl_reset(&link);
    testctl_close(&link);
    std::fclose(run.steps);
    if (std::fclose(run.delivered) != 0 && problem == nullptr) problem = "writing the delivered strokes failed";
    if (run.requests != nullptr && std::fclose(run.requests) != 0 && problem == nullptr) {
        problem = "writing the requests failed";
    }
    if (run.stdout_copy != nullptr && std::fclose(run.stdout_copy) != 0 && problem == nullptr) {
        problem = "writing padmap's output failed";
    }
    if (opts.kill_report != nullptr && !write_kill_report(&run, opts.kill_report) && problem == nullptr) {
        problem = "the kill report cannot be written";
    }
    if (opts.hold_report != nullptr && !write_hold_report(&run, opts.hold_report) && problem == nullptr) {
        problem = "the hold report cannot be written";
    }
    if (run.pipe != nullptr) CloseHandle(run.pipe);
    if (problem != nullptr) return fail(problem);
    return static_cast<int>(status);
}
