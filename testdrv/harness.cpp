// Runs the real padmap.exe against the test driver for one session file: the
// session's devices are declared, padmap is started, the session's strokes are
// typed one at a time (the next only once padmap has read the previous), the
// session is ended so padmap's loop ends, and what reached the system is
// written in padmap-replay's format.
//
//   padmap-testdrv-harness [--requests FILE] [--blocked-stdout]
//                          PADMAP_EXE STDOUT_FILE DELIVERED_FILE SESSION [ARG]
//
// ARG is padmap's argument (a configuration, or an option such as --monitor).
// Without it padmap runs in identify mode and strokes are typed up to the
// first press only: padmap reports that keyboard and exits. A pause waits
// before the next stroke; an id line gives a keyboard its new id once padmap
// comes back for input; a refuse-write or short-write line is handed to the
// driver, which counts from padmap's next read of a stroke; an interrupt
// sends padmap Ctrl+C, after which nothing more is typed and padmap must
// exit on its own.
//
//   --requests FILE   every device control padmap made of the filter devices,
//                     one line each as padmap-replay --requests writes them,
//                     with "end of session" where padmap met the end
//   --blocked-stdout  padmap's standard output is a small pipe that nobody
//                     reads while the strokes are typed; it is read into
//                     STDOUT_FILE once they all are
//
// Exit status: padmap's own; 2 for bad usage or a bad session (nothing run);
// 3 when the driver is missing, padmap hangs past the time limit, did not
// raise its priority, or strokes or request records were lost.

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <windows.h>

#include "driver/request_text.h"
#include "keymap/text.h"
#include "replay/session.h"
#include "testdrv/control.h"

namespace {

constexpr int status_usage = 2;
constexpr int status_failure = 3;
// No single step of padmap takes anywhere near this; only a hang reaches it.
constexpr DWORD step_limit_ms = 15000;
constexpr int take_batch = 256;
constexpr int keyboards = 10;
constexpr size_t command_line_units = 8192;
constexpr size_t path_bytes = 4096;
// Small enough that padmap's log overfills it within a few dozen strokes.
constexpr DWORD blocked_pipe_bytes = 4096;

const char usage[] =
    "usage: padmap-testdrv-harness [--requests FILE] [--blocked-stdout] PADMAP_EXE STDOUT_FILE DELIVERED_FILE "
    "SESSION [ARG]\n";

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-harness: %s\n", message);
    return status_failure;
}

// Appends one argument quoted the way the C runtime splits a command line:
// backslashes double only before a quote. Returns false when line (cap units)
// cannot hold it.
bool append_quoted(wchar_t* line, size_t cap, const wchar_t* arg) {
    size_t at = std::wcslen(line);
    auto put = [&](wchar_t unit, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (at + 1 >= cap) return false;
            line[at++] = unit;
        }
        line[at] = 0;
        return true;
    };
    if (at > 0 && !put(L' ', 1)) return false;
    if (!put(L'"', 1)) return false;
    size_t backslashes = 0;
    for (const wchar_t* c = arg; *c != 0; ++c) {
        if (*c == L'\\') {
            ++backslashes;
            continue;
        }
        if (*c == L'"') backslashes = backslashes * 2 + 1;
        if (!put(L'\\', backslashes) || !put(*c, 1)) return false;
        backslashes = 0;
    }
    return put(L'\\', backslashes * 2) && put(L'"', 1);
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

// Starts padmap in a console of its own, so that Ctrl+C can be sent to it
// alone, with every standard handle given explicitly. It stays in the
// harness's process group: a new group would start with Ctrl+C ignored, which
// padmap, like most programs, does not undo.
bool start_padmap(const wchar_t* program, const wchar_t* argument, HANDLE out, PROCESS_INFORMATION* started) {
    static wchar_t line[command_line_units];
    line[0] = 0;
    if (!append_quoted(line, command_line_units, program)) return false;
    if (argument != nullptr && !append_quoted(line, command_line_units, argument)) return false;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE in =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE err = inheritable(GetStdHandle(STD_ERROR_HANDLE));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in == INVALID_HANDLE_VALUE ? nullptr : in;
    startup.hStdOutput = out;
    startup.hStdError = err != nullptr ? err : out;
    BOOL ok =
        CreateProcessW(program, line, nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, started);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (err != nullptr) CloseHandle(err);
    if (!ok) return false;
    CloseHandle(started->hThread);
    return true;
}

enum wait_result { wait_ready, wait_exited, wait_timed_out, wait_broken };

typedef bool (*status_test)(const testctl_status& status, int device);

// Polls the driver until the test holds or padmap has exited. The state is
// looked at once more after an exit, so a condition met just before it counts.
wait_result wait_for(testctl_link* link, HANDLE process, status_test test, int device) {
    DWORD started = GetTickCount();
    for (;;) {
        bool exited = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        testctl_status status;
        if (!testctl_get_status(link, &status)) return wait_broken;
        if (test(status, device)) return wait_ready;
        if (exited) return wait_exited;
        if (GetTickCount() - started > step_limit_ms) return wait_timed_out;
        WaitForSingleObject(process, 1);
    }
}

// padmap has set its filter on every keyboard the session declares, so typed
// strokes are captured and not passed straight to the system.
bool capturing(const testctl_status& status, int) {
    for (int i = 0; i < keyboards; ++i) {
        if (status.declared[i] && !status.filter_set[i]) return false;
    }
    return true;
}

bool any_keyboard(const testctl_status& status) {
    for (int i = 0; i < keyboards; ++i) {
        if (status.declared[i]) return true;
    }
    return false;
}

bool read_by_padmap(const testctl_status& status, int device) {
    return status.queued[device - 1] == 0;
}

bool write_delivered(testctl_link* link, std::FILE* out) {
    static testctl_delivered records[take_batch];
    for (;;) {
        int n = testctl_take_delivered(link, records, take_batch);
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
            if (std::fprintf(out, "%u %04x %04x %08lx\n", static_cast<unsigned>(records[i].device), make, state,
                             extra) < 0) {
                return false;
            }
        }
    }
}

// Takes the driver's request record into out (null: taken and dropped).
// Returns null, or what went wrong; a record the driver had to drop is a
// failure, as the comparison would miss it.
const char* write_requests(testctl_link* link, std::FILE* out) {
    static testctl_request records[take_batch];
    for (;;) {
        int n = testctl_take_requests(link, records, take_batch);
        if (n < 0) return "the test driver stopped answering";
        if (n == 0) break;
        for (int i = 0; i < n && out != nullptr; ++i) {
            const testctl_request& r = records[i];
            char line[request_text_size] = "end of session\n";
            size_t length = std::strlen(line);
            if (r.kind == TESTCTL_REQUEST_CONTROL) {
                request_note note = {static_cast<int>(r.device), r.code,      r.input_size, r.output_size, r.filter,
                                     r.handle_names_event != 0,  r.done != 0, r.returned};
                length = request_text(note, line, sizeof line);
            }
            if (std::fwrite(line, 1, length, out) != length) return "writing the requests failed";
        }
    }
    testctl_status status;
    if (!testctl_get_status(link, &status)) return "the test driver stopped answering";
    if (status.requests_lost > 0) return "the test driver lost request records";
    return nullptr;
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

// The C runtime opens 8-bit paths in the ANSI code page. Returns false when
// the path does not fit.
bool narrow(const wchar_t* text, char* out, size_t cap) {
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, out, static_cast<int>(cap), nullptr, nullptr);
    return size > 0;
}

// How typing ended, and so what the harness does before padmap can exit.
enum typing_end {
    typed_all,          // the session is ended so that padmap's loop ends
    typed_first_press,  // identify mode has its keyboard
    typed_interrupt,    // padmap was sent Ctrl+C
    padmap_gone,        // padmap exited while strokes were still to come
};

struct session_run {
    testctl_link* link;
    PROCESS_INFORMATION padmap;
    std::FILE* delivered;
    std::FILE* requests;  // null: the record is dropped
    HANDLE pipe;          // padmap's standard output while blocked; null otherwise
    std::FILE* stdout_copy;
    bool identify;
    bool attached;  // the harness shares padmap's console for Ctrl+C
    typing_end end;
};

const char* drain_driver(session_run* run) {
    if (!write_delivered(run->link, run->delivered)) return "writing the delivered strokes failed";
    return write_requests(run->link, run->requests);
}

bool padmap_exited(const session_run* run) {
    return WaitForSingleObject(run->padmap.hProcess, 0) == WAIT_OBJECT_0;
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

// Types the session's strokes. Returns null when they went through as the
// mode wants, or what went wrong.
const char* type_strokes(session_run* run, session_reader* reader) {
    run->end = typed_all;
    switch (wait_for(run->link, run->padmap.hProcess, capturing, 0)) {
    case wait_ready: break;
    case wait_exited: run->end = padmap_gone; return nullptr;
    case wait_timed_out: return "padmap never set its keyboard filter";
    case wait_broken: return "the test driver stopped answering";
    }
    testctl_status status;
    if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
    // With no keyboard there is nothing to set a filter on, and padmap may not
    // have come that far yet.
    if (any_keyboard(status) && GetPriorityClass(run->padmap.hProcess) != HIGH_PRIORITY_CLASS) {
        return "padmap did not raise its priority";
    }
    session_item next;
    while (session_next(reader, &next)) {
        if (next.kind == session_pause) {
            Sleep(next.pause_ms);
            continue;
        }
        if (padmap_exited(run)) {
            run->end = padmap_gone;
            return nullptr;
        }
        if (next.kind == session_interrupt) return interrupt_padmap(run);
        if (next.kind == session_id) {
            size_t units;
            const char16_t* id = driver_id(next.has_id, next.id, &units);
            if (!testctl_change_id(run->link, next.device, id, units)) return "the test driver refused an id change";
            continue;
        }
        if (next.kind == session_short_write) {
            if (!testctl_short_write(run->link, next.write_number, next.write_bytes, next.write_refused)) {
                return "the test driver refused a short or refused write";
            }
            continue;
        }
        if (next.kind != session_key) continue;
        const key_stroke& key = next.key;
        if (!testctl_push_key(run->link, next.device, key.make_code, key.key_state, key.extra_info)) {
            return "the test driver refused a stroke";
        }
        switch (wait_for(run->link, run->padmap.hProcess, read_by_padmap, next.device)) {
        case wait_ready: break;
        case wait_exited: run->end = padmap_gone; return nullptr;
        case wait_timed_out: return "padmap did not read a stroke in time";
        case wait_broken: return "the test driver stopped answering";
        }
        if (const char* problem = drain_driver(run)) return problem;
        if (run->identify && !(key.key_state & key_state_up)) {
            run->end = typed_first_press;
            return nullptr;
        }
    }
    return nullptr;
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

struct options {
    const wchar_t* requests;
    bool blocked_stdout;
    const wchar_t* program;
    const wchar_t* stdout_path;
    const wchar_t* delivered_path;
    const wchar_t* session;
    const wchar_t* argument;
};

bool parse_options(int argc, wchar_t** argv, options* out) {
    *out = options{};
    int at = 1;
    for (; at < argc; ++at) {
        if (std::wcscmp(argv[at], L"--requests") == 0 && at + 1 < argc && out->requests == nullptr) {
            out->requests = argv[++at];
        } else if (std::wcscmp(argv[at], L"--blocked-stdout") == 0 && !out->blocked_stdout) {
            out->blocked_stdout = true;
        } else {
            break;
        }
    }
    int left = argc - at;
    if (left < 4 || left > 5) return false;
    out->program = argv[at];
    out->stdout_path = argv[at + 1];
    out->delivered_path = argv[at + 2];
    out->session = argv[at + 3];
    out->argument = left == 5 ? argv[at + 4] : nullptr;
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    options opts;
    if (!parse_options(argc, argv, &opts)) {
        std::fputs(usage, stderr);
        return status_usage;
    }
    static char session_path[path_bytes];
    if (!narrow(opts.session, session_path, path_bytes)) {
        std::fputs("padmap-testdrv-harness: the session path is too long\n", stderr);
        return status_usage;
    }

    session_devices devices;
    char message[session_message_size];
    if (!session_check(session_path, &devices, message, sizeof message)) {
        std::fprintf(stderr, "padmap-testdrv-harness: %s\n", message);
        return status_usage;
    }
    session_reader reader;
    if (!session_open(&reader, session_path)) return fail("the session file cannot be opened");
    session_run run = {};
    run.identify = opts.argument == nullptr;
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

    testctl_link link = {};
    run.link = &link;
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !declare_devices(&link, devices)) return fail("the test driver refused the devices");

    padmap_output output;
    if (!make_output(opts.stdout_path, opts.blocked_stdout, &output)) return fail("padmap's output cannot be made");
    run.pipe = output.pipe;
    bool started = start_padmap(opts.program, opts.argument, output.write, &run.padmap);
    CloseHandle(output.write);
    if (!started) return fail("padmap cannot be started");

    const char* problem = type_strokes(&run, &reader);
    session_close(&reader);
    if (problem == nullptr && run.end == typed_all && !testctl_end(&link)) problem = "the session cannot be ended";
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

    if (problem == nullptr) problem = drain_driver(&run);
    testctl_status final_status = {};
    if (problem == nullptr && !testctl_get_status(&link, &final_status)) problem = "the test driver stopped answering";
    if (problem == nullptr && final_status.lost > 0) problem = "the test driver lost delivered strokes";
    testctl_reset(&link);
    testctl_close(&link);
    if (std::fclose(run.delivered) != 0 && problem == nullptr) problem = "writing the delivered strokes failed";
    if (run.requests != nullptr && std::fclose(run.requests) != 0 && problem == nullptr) {
        problem = "writing the requests failed";
    }
    if (run.stdout_copy != nullptr && std::fclose(run.stdout_copy) != 0 && problem == nullptr) {
        problem = "writing padmap's output failed";
    }
    if (run.pipe != nullptr) CloseHandle(run.pipe);
    if (problem != nullptr) return fail(problem);
    return static_cast<int>(status);
}
