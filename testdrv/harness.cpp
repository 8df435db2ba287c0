// Runs the real padmap.exe against the test driver for one session file: the
// session's devices are declared, padmap is started, the session's strokes are
// typed one at a time (the next only once padmap has read the previous), the
// session is ended so padmap's loop ends, and what reached the system is
// written in padmap-replay's format.
//
//   padmap-testdrv-harness PADMAP_EXE STDOUT_FILE DELIVERED_FILE SESSION [CONFIG]
//
// Without CONFIG padmap runs in identify mode and only the first stroke is
// typed: padmap reads one and exits, as it never waits again. Exit status:
// padmap's own; 2 for bad usage or a bad session (nothing run); 3 when the
// driver is missing, padmap hangs past the time limit, or strokes were lost.

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <windows.h>

#include "keymap/key_table.h"
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

const char usage[] = "usage: padmap-testdrv-harness PADMAP_EXE STDOUT_FILE DELIVERED_FILE SESSION [CONFIG]\n";

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

// Starts padmap with its standard output in a new file. Null on failure.
HANDLE start_padmap(const wchar_t* program, const wchar_t* stdout_path, const wchar_t* config) {
    static wchar_t line[command_line_units];
    line[0] = 0;
    if (!append_quoted(line, command_line_units, program)) return nullptr;
    if (config != nullptr && !append_quoted(line, command_line_units, config)) return nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(stdout_path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE in =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE err = inheritable(GetStdHandle(STD_ERROR_HANDLE));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in == INVALID_HANDLE_VALUE ? nullptr : in;
    startup.hStdOutput = out;
    startup.hStdError = err != nullptr ? err : out;
    PROCESS_INFORMATION started = {};
    BOOL ok = CreateProcessW(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started);
    CloseHandle(out);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (err != nullptr) CloseHandle(err);
    if (!ok) return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
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

bool declare_devices(testctl_link* link, const session_devices& devices) {
    static char16_t id[TESTCTL_ID_UNITS + 1];
    for (int n = 1; n <= device_count; ++n) {
        const session_device& d = devices.device[n - 1];
        if (!d.declared) continue;
        size_t units = d.has_id ? utf8_to_utf16(d.id, id, TESTCTL_ID_UNITS + 1) : 0;
        if (!testctl_declare_device(link, n, d.has_id ? id : nullptr, units)) return false;
    }
    return true;
}

// The C runtime opens 8-bit paths in the ANSI code page. Returns false when
// the path does not fit.
bool narrow(const wchar_t* text, char* out, size_t cap) {
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, out, static_cast<int>(cap), nullptr, nullptr);
    return size > 0;
}

struct session_run {
    testctl_link* link;
    HANDLE process;
    std::FILE* delivered;
    bool identify;
};

// Types the session's strokes. Returns null when they all went through, or
// what went wrong.
const char* type_strokes(session_run* run, session_reader* reader) {
    switch (wait_for(run->link, run->process, capturing, 0)) {
    case wait_ready: break;
    case wait_exited: return nullptr;
    case wait_timed_out: return "padmap never set its keyboard filter";
    case wait_broken: return "the test driver stopped answering";
    }
    session_item next;
    while (session_next(reader, &next)) {
        if (next.kind == session_pause) {
            Sleep(next.pause_ms);
            continue;
        }
        if (next.kind != session_key) continue;
        testctl_status status;
        if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
        if (run->identify && status.consumed > 0) break;
        if (WaitForSingleObject(run->process, 0) == WAIT_OBJECT_0) break;
        if (!testctl_push_key(run->link, next.device, next.key.make_code, next.key.key_state, next.key.extra_info)) {
            return "the test driver refused a stroke";
        }
        switch (wait_for(run->link, run->process, read_by_padmap, next.device)) {
        case wait_ready: break;
        case wait_exited: return nullptr;
        case wait_timed_out: return "padmap did not read a stroke in time";
        case wait_broken: return "the test driver stopped answering";
        }
        if (!write_delivered(run->link, run->delivered)) return "writing the delivered strokes failed";
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5 || argc > 6) {
        std::fputs(usage, stderr);
        return status_usage;
    }
    const wchar_t* program = argv[1];
    const wchar_t* stdout_path = argv[2];
    const wchar_t* config = argc == 6 ? argv[5] : nullptr;
    static char session_path[path_bytes];
    if (!narrow(argv[4], session_path, path_bytes)) {
        std::fputs("padmap-testdrv-harness: the session path is too long\n", stderr);
        return status_usage;
    }

    session_devices devices;
    char message[session_message_size];
    reset_key_table();
    if (!session_check(session_path, &devices, message, sizeof message)) {
        std::fprintf(stderr, "padmap-testdrv-harness: %s\n", message);
        return status_usage;
    }
    session_reader reader;
    if (!session_open(&reader, session_path)) return fail("the session file cannot be opened");
    std::FILE* delivered = _wfopen(argv[3], L"wb");
    if (delivered == nullptr) return fail("the delivered file cannot be written");

    testctl_link link = {};
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link) || !declare_devices(&link, devices)) return fail("the test driver refused the devices");

    HANDLE process = start_padmap(program, stdout_path, config);
    if (process == nullptr) return fail("padmap cannot be started");

    session_run run = {&link, process, delivered, config == nullptr};
    const char* problem = type_strokes(&run, &reader);
    session_close(&reader);
    if (problem == nullptr && !testctl_end(&link)) problem = "the session cannot be ended";
    if (problem == nullptr && WaitForSingleObject(process, step_limit_ms) != WAIT_OBJECT_0) {
        problem = "padmap did not exit when the session ended";
    }
    DWORD status = status_failure;
    if (problem != nullptr) {
        TerminateProcess(process, status_failure);
        WaitForSingleObject(process, step_limit_ms);
    } else {
        GetExitCodeProcess(process, &status);
    }
    CloseHandle(process);

    testctl_status final_status = {};
    if (problem == nullptr && !write_delivered(&link, delivered)) problem = "writing the delivered strokes failed";
    if (problem == nullptr && !testctl_get_status(&link, &final_status)) problem = "the test driver stopped answering";
    if (problem == nullptr && final_status.lost > 0) problem = "the test driver lost delivered strokes";
    testctl_reset(&link);
    testctl_close(&link);
    if (std::fclose(delivered) != 0 && problem == nullptr) problem = "writing the delivered strokes failed";
    if (problem != nullptr) return fail(problem);
    return static_cast<int>(status);
}
