#include "testdrv/balance_check.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include "app/entry.h"
#include "app/stop.h"
#include "keymap/config.h"
#include "keymap/key_table.h"

namespace {

// No single step of a run takes anywhere near this; only a hang reaches it.
constexpr DWORD step_limit_ms = 15000;
// Handle values are multiples of 4, the lowest free one given first, so a
// process with fewer than 2047 handles open has them all below this.
constexpr uintptr_t handle_value_end = 0x2000;

const char output_path[] = "balance.out";
// The window in front is asked for only where a file has sections.
struct config_file_text {
    const char* path;
    const char* text;
};
const config_file_text configs[] = {
    {"balance.cfg", "HID\\VID_1A2C&PID_0E24&REV_0110&MI_00\r\nF1 C-C\r\n"},
    {"balance-sections.cfg",
     "HID\\VID_1A2C&PID_0E24&REV_0110&MI_00\r\nF1 C-C\r\nwhen padmap-front-window.exe\r\nF1 C-K\r\n"},
};
const char16_t configured_id[] = u"HID\\VID_1A2C&PID_0E24&REV_0110&MI_00";
const char16_t other_id[] = u"HID\\VID_04D9&PID_1503&REV_0110&MI_00";
const char16_t mouse_id[] = u"HID\\VID_046D&PID_C077&REV_7200";

const char banner[] =
    "padmap v1.0 - one keyboard, its own layout - (c) 2026 the padmap authors\n"
    "built on the keyboard filter driver - thanks to its author\n";

struct typed_key {
    int device;
    uint16_t make_code;
    uint16_t key_state;
};

enum run_end {
    ended_by_driver,  // the driver stops delivering keys
    ended_by_stop,    // a stop is asked for, as Ctrl+C asks
    ended_by_padmap,  // identify mode ends when it has its keyboard
};

struct balance_case {
    const char* name;
    bool identify;
    const char16_t* config;
    typed_key keys[4];
    int key_count;
    run_end end;
    const char* output;  // padmap's standard output after the banner, with LF line ends
};

// Keyboard 1 is the configured one, keyboard 2 another; mouse 11 is there too.
const balance_case cases[] = {
    {"balance: remap ended by the driver",
     false,
     u"balance.cfg",
     {{1, 0x3B, 0}, {1, 0x3B, 1}, {2, 0x1E, 0}, {2, 0x1E, 1}},
     4,
     ended_by_driver,
     "F1->C-C\n"
     "DOWN pressed key=F1 003b -> 002e: lCdown-002e down-lCup-\n"
     "UP remapping pressed key=F1 003b -> 002e: 002e up\n"},
    {"balance: remap stopped with an output key held",
     false,
     u"balance.cfg",
     {{1, 0x3B, 0}},
     1,
     ended_by_stop,
     "F1->C-C\n"
     "DOWN pressed key=F1 003b -> 002e: lCdown-002e down-lCup-\n"},
    {"balance: identify",
     true,
     u"balance.cfg",
     {{2, 0x1E, 1}, {2, 0x1E, 0}},
     2,
     ended_by_padmap,
     "hardware id is HID\\VID_04D9&PID_1503&REV_0110&MI_00\n"},
    {"balance: remap with sections, another program's window in front",
     false,
     u"balance-sections.cfg",
     {{1, 0x3B, 0}, {1, 0x3B, 1}, {2, 0x1E, 0}, {2, 0x1E, 1}},
     4,
     ended_by_driver,
     "F1->C-C\n"
     "when padmap-front-window.exe\n"
     "F1->C-K\n"
     "when padmap-front-window.exe: DOWN pressed key=F1 003b -> 0025: lCdown-0025 down-lCup-\n"
     "when padmap-front-window.exe: UP remapping pressed key=F1 003b -> 0025: 0025 up\n"},
};

// ntdll's answer about an event: its kind (auto_reset_event or manual reset)
// and whether it is set. Fails for a handle that is no event.
constexpr int event_basic_information = 0;
constexpr int auto_reset_event = 1;
struct event_information {
    int kind;
    LONG set;
};
extern "C" LONG NTAPI NtQueryEvent(HANDLE event, int what, void* out, ULONG size, ULONG* returned);

// The C runtime's thread library makes an auto-reset event for one of its
// locks the first time two threads meet on it, which depends on timing; the
// binding makes only manual-reset events (a wait must leave them set).
bool is_auto_reset_event(HANDLE handle) {
    event_information information = {-1, 0};
    return NtQueryEvent(handle, event_basic_information, &information, sizeof information, nullptr) >= 0 &&
           information.kind == auto_reset_event;
}

// What the process holds: open handles other than auto-reset events, and
// busy blocks of its heap. Handles are found by asking about every value one
// can have, since Wine answers GetProcessHandleCount with 0.
struct holdings {
    long handles;
    long blocks;
    long bytes;
};

holdings take_census() {
    holdings held = {0, 0, 0};
    DWORD flags = 0;
    for (uintptr_t value = 4; value < handle_value_end; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (GetHandleInformation(handle, &flags) && !is_auto_reset_event(handle)) ++held.handles;
    }
    HANDLE heap = GetProcessHeap();
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry;
    std::memset(&entry, 0, sizeof entry);
    while (HeapWalk(heap, &entry)) {
        if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
        ++held.blocks;
        held.bytes += static_cast<long>(entry.cbData);
    }
    HeapUnlock(heap);
    return held;
}

// padmap's standard output goes to output_path while it runs, both as the C
// runtime's descriptor 1 and as Windows' standard handle, so that the
// check's own lines stay apart. The descriptor given back is a new handle.
struct diverted {
    int saved;
};

bool divert_output(diverted* out) {
    std::fflush(stdout);
    int file = _open(output_path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (file < 0) return false;
    out->saved = _dup(1);
    bool moved = out->saved >= 0 && _dup2(file, 1) == 0;
    _close(file);
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    return moved;
}

void restore_output(diverted* out) {
    std::fflush(stdout);
    if (out->saved < 0) return;
    _dup2(out->saved, 1);
    _close(out->saved);
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
}

typedef bool (*status_test)(const testctl_status& status, int device);

bool wait_until(testctl_link* link, status_test test, int device) {
    DWORD started = GetTickCount();
    for (;;) {
        testctl_status status;
        if (!testctl_get_status(link, &status)) return false;
        if (test(status, device)) return true;
        if (GetTickCount() - started > step_limit_ms) return false;
        Sleep(1);
    }
}

// Remap mode captures the configured keyboard alone, identify mode every one.
bool capturing(const testctl_status& status, int) {
    return status.filter_set[0];
}

bool read_by_padmap(const testctl_status& status, int device) {
    return status.queued[device - 1] == 0;
}

// The user's side of a run, on a thread of its own while padmap runs on the
// check's: types the keys one at a time, then ends the run.
struct user_side {
    testctl_link* link;
    const balance_case* run;
    const char* problem;
};

DWORD WINAPI play_user(void* context) {
    user_side* user = static_cast<user_side*>(context);
    const balance_case& run = *user->run;
    if (!wait_until(user->link, capturing, 0)) user->problem = "padmap never set its keyboard filter";
    for (int i = 0; i < run.key_count && user->problem == nullptr; ++i) {
        const typed_key& key = run.keys[i];
        if (!testctl_push_key(user->link, key.device, key.make_code, key.key_state, 0) ||
            !wait_until(user->link, read_by_padmap, key.device)) {
            user->problem = "padmap did not read a stroke";
        }
    }
    // A run that went wrong is ended all the same, so that padmap returns.
    if (run.end == ended_by_stop || user->problem != nullptr) request_stop();
    if (run.end == ended_by_driver || user->problem != nullptr) testctl_end(user->link);
    return 0;
}

bool declare_devices(testctl_link* link) {
    auto units = [](const char16_t* text) { return std::char_traits<char16_t>::length(text); };
    return testctl_reset(link) && testctl_declare_device(link, 1, configured_id, units(configured_id)) &&
           testctl_declare_device(link, 2, other_id, units(other_id)) &&
           testctl_declare_device(link, 11, mouse_id, units(mouse_id));
}

std::string read_output() {
    std::string text;
    std::FILE* file = std::fopen(output_path, "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    return text;
}

std::string with_crlf(const char* text) {
    std::string out;
    for (const char* c = text; *c != 0; ++c) {
        if (*c == '\n') out += '\r';
        out += *c;
    }
    return out;
}

// One run of padmap in this process. Returns null when it ran as it should,
// filling the holdings around it; otherwise what went wrong.
const char* run_padmap(testctl_link* link, const balance_case& run, holdings* before, holdings* after) {
    reset_stop();
    if (!declare_devices(link)) return "the test driver refused the devices";
    diverted output = {-1};
    if (!divert_output(&output)) {
        restore_output(&output);
        return "padmap's standard output cannot be diverted";
    }
    *before = take_census();
    user_side user = {link, &run, nullptr};
    // A thread of Windows' own, which the C runtime's thread library never sees.
    HANDLE typing = CreateThread(nullptr, 0, play_user, &user, 0, nullptr);
    if (typing == nullptr) {
        restore_output(&output);
        return "the user's thread cannot be started";
    }
    const char16_t* argv[] = {u"padmap", run.config, nullptr};
    int status = padmap_run(run.identify ? 1 : 2, argv, padmap_console_log());
    WaitForSingleObject(typing, INFINITE);
    CloseHandle(typing);
    *after = take_census();
    restore_output(&output);
    if (user.problem != nullptr) return user.problem;
    if (status != 0) return "padmap's exit status is not 0";
    if (read_output() != with_crlf(banner) + with_crlf(run.output)) return "padmap's output differs";
    return nullptr;
}

bool write_configs() {
    for (const config_file_text& config : configs) {
        std::FILE* file = std::fopen(config.path, "wb");
        if (file == nullptr) return false;
        size_t size = std::strlen(config.text);
        bool written = std::fwrite(config.text, 1, size, file) == size;
        if (std::fclose(file) != 0 || !written) return false;
    }
    return true;
}

// The front window program's window, brought to the front for the whole
// check on a desktop of the check's own, which its thread joins (on Wine's
// default desktop explorer.exe's window may stay in front): the process, or
// null when the window did not come to the front. The desktop's own window
// is made first, so that it does not come to the front later.
HANDLE bring_window_to_front(const wchar_t* front_program) {
    wchar_t desktop_name[64];
    std::swprintf(desktop_name, sizeof desktop_name / sizeof desktop_name[0], L"padmap-balance-%lu",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    HDESK desktop = CreateDesktopW(desktop_name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) return nullptr;
    GetDesktopWindow();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop_name;
    PROCESS_INFORMATION started;
    std::wstring line = L"\"" + std::wstring(front_program) + L"\"";
    if (!CreateProcessW(front_program, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return nullptr;
    }
    CloseHandle(started.hThread);
    DWORD began = GetTickCount();
    for (;;) {
        DWORD owner = 0;
        HWND front = GetForegroundWindow();
        if (front != nullptr) GetWindowThreadProcessId(front, &owner);
        if (owner == started.dwProcessId) return started.hProcess;
        if (GetTickCount() - began > step_limit_ms || WaitForSingleObject(started.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    TerminateProcess(started.hProcess, 3);
    CloseHandle(started.hProcess);
    return nullptr;
}

}  // namespace

void check_balance(testctl_link* link, balance_report report, const wchar_t* front_program) {
    if (!write_configs()) {
        report(false, "balance", "the configurations cannot be written");
        return;
    }
    HDESK own_desktop = GetThreadDesktop(GetCurrentThreadId());
    HANDLE front = bring_window_to_front(front_program);
    if (front == nullptr) {
        SetThreadDesktop(own_desktop);
        report(false, "balance", "the front window program's window did not come to the front");
        return;
    }
    holdings before;
    holdings after;
    for (const balance_case& run : cases) run_padmap(link, run, &before, &after);
    for (const balance_case& run : cases) {
        char name[160];
        char detail[160] = "";
        std::snprintf(name, sizeof name, "%s", run.name);
        const char* problem = run_padmap(link, run, &before, &after);
        if (problem != nullptr) {
            std::snprintf(detail, sizeof detail, "%s", problem);
        } else if (after.handles != before.handles || after.blocks != before.blocks || after.bytes != before.bytes) {
            std::snprintf(detail, sizeof detail,
                          "%ld handles and %ld heap blocks of %ld bytes before the run, %ld, %ld and %ld after it",
                          before.handles, before.blocks, before.bytes, after.handles, after.blocks, after.bytes);
        } else {
            std::snprintf(name, sizeof name, "%s (%ld handles, %ld heap blocks before and after)", run.name,
                          before.handles, before.blocks);
        }
        report(detail[0] == 0, name, detail);
    }
    TerminateProcess(front, 0);
    WaitForSingleObject(front, step_limit_ms);
    CloseHandle(front);
    // The checks after this one find the windows of threads they start.
    SetThreadDesktop(own_desktop);
    testctl_reset(link);
}
