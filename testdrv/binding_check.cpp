// Checks padmap's Windows binding of its driver calls (driver/os-win32.cpp)
// against the test driver and kernel32: what the binding reports must be what
// Windows and the driver answered, never what the caller asked for, and
// whole runs of padmap give back every handle and heap block they took
// (balance_check.h). One PASS or FAIL line per check; exit status 1 when a
// check failed, 2 for bad usage, 3 when the test driver is missing.
//
//   padmap-binding-check FRONT_WINDOW_EXE
//
// FRONT_WINDOW_EXE is padmap-front-window.exe, whose window is in front
// while the balance check runs padmap with sections: it needs a display.

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include <dbt.h>

#include "app/platform.h"
#include "driver/control_codes.h"
#include "keymap/file.h"
#include "testdrv/balance_check.h"
#include "testdrv/control.h"

namespace {

constexpr uint32_t untouched = 0xDEAD;

int failed = 0;

void report(bool ok, const char* name, const char* detail) {
    if (ok) {
        std::printf("PASS %s\n", name);
    } else {
        std::printf("FAIL %s: %s\n", name, detail);
        ++failed;
    }
}

struct wait_case {
    const char* name;
    uint32_t count;
    int closed;          // the position holding a closed event, or -1
    uint32_t signalled;  // bit k: the event at position k is set
    int waits;           // each must give expected: a manual-reset event stays set
    uint32_t expected;
};

void check_waits() {
    // A binding that ignores the closed handle finds the event set at 2
    // rather than blocking for ever.
    static const wait_case cases[] = {
        {"wait: a closed event in the list fails", 3, 1, 0x4, 1, os_wait_failed},
        {"wait: the event set at position 1 of 3", 3, -1, 0x2, 1, 1},
        {"wait: the lowest set position, again after the wait", 3, -1, 0x6, 2, 1},
        {"wait: an empty list fails", 0, -1, 0, 1, os_wait_failed},
    };
    for (const wait_case& c : cases) {
        os_handle events[3] = {};
        bool made = true;
        for (uint32_t i = 0; i < c.count; ++i) {
            events[i] = os_create_event();
            made = made && events[i] != os_null_handle;
            if ((c.signalled >> i) & 1) made = made && os_set_event(events[i]);
        }
        if (!made) {
            report(false, c.name, "the events cannot be made");
            continue;
        }
        if (c.closed >= 0) os_close_handle(events[c.closed]);
        char detail[64] = "";
        for (int w = 0; w < c.waits && detail[0] == 0; ++w) {
            uint32_t got = os_wait_for_any(c.count, events);
            if (got != c.expected)
                std::snprintf(detail, sizeof detail, "wait %d gave 0x%lx", w + 1, (unsigned long)got);
        }
        report(detail[0] == 0, c.name, detail);
        for (uint32_t i = 0; i < c.count; ++i) {
            if (static_cast<int>(i) != c.closed) os_close_handle(events[i]);
        }
    }
}

// What the driver does to the case's request.
enum control_spoil { spoil_none, spoil_short, spoil_refuse };

struct control_case {
    const char* name;
    int device;  // 1: a keyboard with an id and a filter; 2: a keyboard without an id
    uint32_t code;
    uint32_t in_size;
    uint32_t out_size;
    bool key_waiting;  // one stroke is queued on the device first
    control_spoil spoil;
    uint32_t short_bytes;  // spoil_short: the most the request takes
    bool done;
    uint32_t returned;
};

// Each case runs on a fresh session; *returned starts at a value no answer
// holds, so a binding that leaves it alone shows. A spoiled write follows a
// read of a stroke, from which the driver counts.
void check_device_controls(testctl_link* link) {
    static const control_case cases[] = {
        {"write: 18 bytes to a keyboard, the driver takes one record", 1, ctl_write, 18, 0, false, spoil_none, 0, true,
         12},
        {"write: the driver takes 5 bytes of 12", 1, ctl_write, 12, 0, false, spoil_short, 5, true, 5},
        {"write: the driver takes no byte of 24", 1, ctl_write, 24, 0, false, spoil_short, 0, true, 0},
        {"write: the driver takes 13 bytes of 24", 1, ctl_write, 24, 0, false, spoil_short, 13, true, 13},
        {"write: the driver refuses", 1, ctl_write, 12, 0, false, spoil_refuse, 0, false, 0},
        {"hardware id: refused for a device without one", 2, ctl_get_hardware_id, 0, 1000, false, spoil_none, 0, false,
         0},
        {"read: a 24-byte buffer with one record queued", 1, ctl_read, 0, 24, true, spoil_none, 0, true, 12},
        {"read: nothing queued", 1, ctl_read, 0, 24, false, spoil_none, 0, true, 0},
    };
    for (const control_case& c : cases) {
        if (!testctl_reset(link) || !testctl_declare_device(link, 1, u"kbd", 3) ||
            !testctl_declare_device(link, 2, nullptr, 0)) {
            report(false, c.name, "the test driver refused the devices");
            continue;
        }
        os_handle device = os_open_device(c.device == 1 ? "\\\\.\\interception00" : "\\\\.\\interception01");
        if (device == os_invalid_handle) {
            report(false, c.name, "the device does not open");
            continue;
        }
        const uint8_t filter[2] = {0xFF, 0xFF};
        os_device_control(device, ctl_set_filter, filter, sizeof filter, nullptr, 0, nullptr);
        if (c.spoil != spoil_none) {
            uint8_t record[12];
            testctl_short_write(link, 1, c.short_bytes, c.spoil == spoil_refuse);
            testctl_push_key(link, c.device, 0x30, 0, 0);
            os_device_control(device, ctl_read, nullptr, 0, record, sizeof record, nullptr);
        }
        if (c.key_waiting) testctl_push_key(link, c.device, 0x1E, 0, 0x01020304);

        uint8_t in[32] = {};
        uint8_t out[1000];
        std::memset(out, 0, sizeof out);
        uint32_t returned = untouched;
        bool done = os_device_control(device, c.code, c.in_size > 0 ? in : nullptr, c.in_size,
                                      c.out_size > 0 ? out : nullptr, c.out_size, &returned);
        char detail[96] = "";
        if (done != c.done || returned != c.returned) {
            std::snprintf(detail, sizeof detail, "gave %s with %lu bytes", done ? "true" : "false",
                          (unsigned long)returned);
        } else if (c.key_waiting) {
            uint8_t expected[12];
            testctl_key_record(expected, 0x1E, 0, 0x01020304);
            if (std::memcmp(out, expected, sizeof expected) != 0) std::snprintf(detail, sizeof detail, "wrong record");
        }
        report(detail[0] == 0, c.name, detail);
        os_close_handle(device);
    }
    testctl_reset(link);
}

void check_missing_device(testctl_link* link) {
    const char* name = "open: an undeclared device gives the invalid handle";
    testctl_reset(link);
    os_handle device = os_open_device("\\\\.\\interception05");
    report(device == os_invalid_handle, name, "it opened");
    if (device != os_invalid_handle) os_close_handle(device);
}

// The clock is the system's: a reading between two of kernel32's own.
void check_clock() {
    const char* name = "clock: the time GetTickCount64 gives";
    ULONGLONG before = GetTickCount64();
    uint64_t now = os_now_ms();
    ULONGLONG after = GetTickCount64();
    report(before <= now && now <= after, name, "outside kernel32's readings");
}

bool write_file(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    return CloseHandle(file) && ok;
}

// Takes what the watch reports until it names a watched file; nothing but
// the other files' news may come first. Only a hang reaches the limit.
const char* wait_for_named(os_folder_watch* watch) {
    constexpr DWORD hang_limit_ms = 15000;
    HANDLE handle = reinterpret_cast<HANDLE>(os_folder_watch_handle(watch));
    for (;;) {
        if (WaitForSingleObject(handle, hang_limit_ms) != WAIT_OBJECT_0) return "no change was reported";
        os_folder_news news = os_take_folder_changes(watch);
        if (news == os_folder_named) return nullptr;
        if (news == os_folder_lost) return "the watch was lost";
    }
}

// A folder of its own for one step of the folder watch's check, with files
// made before the watch starts: a folder never watched before hears nothing
// of them, and no news left over from another step (Wine tells of a file's
// creation and of its write apart) can reach its watch.
std::wstring step_folder(const wchar_t* step, const wchar_t* const* made, int made_count) {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring folder =
        std::wstring(temp, length) + L"padmap-binding-watch-" + std::to_wstring(GetCurrentProcessId()) + L"-" + step;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < made_count; ++i) write_file(folder + L"\\" + made[i], "id\n");
    return folder;
}

void remove_step_folder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// What a step of the folder watch's check does in its folder.
enum folder_step { step_write, step_replace, step_log };

struct folder_case {
    const char* name;
    const wchar_t* folder;  // unique among the cases
    folder_step step;
    const wchar_t* file;  // written, or renamed over by a new file
    bool made_first;      // the file is there before the watch starts
};

// The watch of a folder listens for its configuration files only: a log
// written beside them is news of other files, and a file written, written
// by another case of its name or renamed over is news of a named one. Each
// step has a watch and a folder of its own.
void check_folder_watch() {
    static const folder_case cases[] = {
        {"folder watch: another file's change is news of other files", L"other", step_log, L"padmap.log", false},
        {"folder watch: a watched file written", L"written", step_write, L"pad.cfg", false},
        {"folder watch: a watched name in another case", L"case", step_write, L"numpad.cfg", false},
        {"folder watch: a new file renamed over a watched one", L"renamed", step_replace, L"pad.cfg", true},
    };
    const char16_t* names[] = {u"pad.cfg", u"Numpad.cfg"};
    for (const folder_case& c : cases) {
        std::wstring folder = step_folder(c.folder, &c.file, c.made_first ? 1 : 0);
        os_folder_watch* watch = os_watch_folder(reinterpret_cast<const char16_t*>(folder.c_str()), names, 2);
        std::wstring path = folder + L"\\" + c.file;
        const char* problem = nullptr;
        if (watch == nullptr) {
            problem = "os_watch_folder gave null";
        } else if (c.step == step_log) {
            if (!write_file(path, "log\n")) {
                problem = "the file cannot be written";
            } else if (WaitForSingleObject(reinterpret_cast<HANDLE>(os_folder_watch_handle(watch)), 15000) !=
                       WAIT_OBJECT_0) {
                problem = "no change was reported";
            } else if (os_take_folder_changes(watch) != os_folder_others) {
                problem = "it was taken for a watched file";
            }
        } else if (c.step == step_write) {
            problem = write_file(path, "id2\n") ? wait_for_named(watch) : "the file cannot be written";
        } else {
            problem = write_file(path + L".new", "id2\n") &&
                              MoveFileExW((path + L".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)
                          ? wait_for_named(watch)
                          : "the file cannot be replaced";
        }
        report(problem == nullptr, c.name, problem);
        os_unwatch_folder(watch);
        remove_step_folder(folder);
    }

    // An editor's save that renames the file padmap reads to a backup and a
    // new one into its place. (Wine refuses to rename a file over one that
    // is open, whatever the sharing.)
    const wchar_t* pad = L"pad.cfg";
    std::wstring folder = step_folder(L"backup", &pad, 1);
    config_file* reading = open_config_file(reinterpret_cast<const char16_t*>((folder + L"\\pad.cfg").c_str()));
    bool saved = reading != nullptr && write_file(folder + L"\\pad.cfg.new", "id3\n") &&
                 MoveFileExW((folder + L"\\pad.cfg").c_str(), (folder + L"\\pad.cfg~").c_str(), 0) &&
                 MoveFileExW((folder + L"\\pad.cfg.new").c_str(), (folder + L"\\pad.cfg").c_str(), 0);
    close_config_file(reading);
    report(saved, "configuration: renamed to a backup and replaced while padmap reads it", "a rename failed");
    remove_step_folder(folder);

    // Given a file's short name (an old batch file's, say), the watch still
    // hears of the file when an editor saves it by its long name.
    const wchar_t* long_name = L"pad configuration.cfg";
    folder = step_folder(L"short", &long_name, 1);
    const std::wstring long_path = folder + L"\\" + long_name;
    wchar_t short_path[MAX_PATH];
    DWORD short_length = GetShortPathNameW(long_path.c_str(), short_path, MAX_PATH);
    const wchar_t* short_name = short_path + short_length;
    while (short_name > short_path && short_name[-1] != L'\\') --short_name;
    const char16_t* short_names[] = {reinterpret_cast<const char16_t*>(short_name)};
    os_folder_watch* watch = short_length > 0 && short_length < MAX_PATH && std::wcscmp(short_name, long_name) != 0
                                 ? os_watch_folder(reinterpret_cast<const char16_t*>(folder.c_str()), short_names, 1)
                                 : nullptr;
    const char* problem = watch == nullptr                 ? "the file has no short name to watch it by"
                          : write_file(long_path, "id2\n") ? wait_for_named(watch)
                                                           : "the file cannot be written by its long name";
    report(problem == nullptr, "folder watch: a file watched by its short name, saved by its long name", problem);
    os_unwatch_folder(watch);
    remove_step_folder(folder);
}

// The device notices Windows sends the keyboard watch's window: each must
// have set the watch's event by the time SendMessage returns, for the key
// loop to wake and ask its keyboards again.
void check_keyboard_notices() {
    struct notice_case {
        const char* name;
        WPARAM what;
        bool interface_detail;  // the notice names a keyboard's device interface
    };
    static const notice_case cases[] = {
        {"keyboard watch: a keyboard's arrival sets the event", DBT_DEVICEARRIVAL, true},
        {"keyboard watch: a keyboard's removal sets the event", DBT_DEVICEREMOVECOMPLETE, true},
        {"keyboard watch: device nodes changed sets the event", DBT_DEVNODES_CHANGED, false},
    };
    // The keyboard class, as the system names it in an arrival's notice.
    const GUID keyboard_class = {0x884b96c3, 0x56ef, 0x11d1, {0xbc, 0x8c, 0x00, 0xa0, 0xc9, 0x14, 0x05, 0xdd}};
    os_keyboard_watch* watch = os_watch_keyboards();
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"padmap-keyboard-watch", nullptr);
    HANDLE event = reinterpret_cast<HANDLE>(os_keyboard_watch_event(watch));
    for (const notice_case& c : cases) {
        struct {
            DEV_BROADCAST_DEVICEINTERFACE_W head;
            wchar_t rest[64];
        } detail = {};
        detail.head.dbcc_size = sizeof detail;
        detail.head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        detail.head.dbcc_classguid = keyboard_class;
        std::wcscpy(detail.head.dbcc_name, L"\\\\?\\HID#VID_1A86&PID_E026&MI_00#7&1&0&0000#{884b96c3}");
        LPARAM sent = c.interface_detail ? reinterpret_cast<LPARAM>(&detail) : 0;
        const char* problem = watch == nullptr || window == nullptr ? "the watch has no window"
                              : !ResetEvent(event)                  ? "the event cannot be reset"
                                                                    : nullptr;
        if (problem == nullptr) {
            SendMessageW(window, WM_DEVICECHANGE, c.what, sent);
            if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0)
                problem = "the event is not set when SendMessage returns";
        }
        report(problem == nullptr, c.name, problem);
    }
    os_unwatch_keyboards(watch);
}

// Stopping the keyboard watch gives up on a thread that does not end (held
// here) after a bounded wait; once it runs again it ends on its own.
void check_keyboard_watch_left() {
    os_keyboard_watch* watch = os_watch_keyboards();
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"padmap-keyboard-watch", nullptr);
    DWORD id = watch != nullptr && window != nullptr ? GetWindowThreadProcessId(window, nullptr) : 0;
    HANDLE thread = id != 0 ? OpenThread(THREAD_SUSPEND_RESUME | SYNCHRONIZE, FALSE, id) : nullptr;
    const char* problem = thread == nullptr || SuspendThread(thread) == static_cast<DWORD>(-1)
                              ? "the watch's thread cannot be held"
                          : os_unwatch_keyboards(watch) ? "os_unwatch_keyboards says the thread ended"
                                                        : nullptr;
    if (thread != nullptr && ResumeThread(thread) == 1 && WaitForSingleObject(thread, 15000) != WAIT_OBJECT_0) {
        problem = "the thread did not end once it ran again";
    }
    report(problem == nullptr, "keyboard watch: a thread that does not end is left after a bounded wait", problem);
    if (thread != nullptr) CloseHandle(thread);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: padmap-binding-check FRONT_WINDOW_EXE\n", stderr);
        return 2;
    }
    testctl_link link = {};
    if (!testctl_open(&link)) {
        std::printf("FAIL the test driver's control device %s does not open\n", TESTCTL_DOS_NAME);
        return 3;
    }
    check_waits();
    check_device_controls(&link);
    check_missing_device(&link);
    check_clock();
    check_balance(&link, report, argv[1]);
    check_folder_watch();
    check_keyboard_notices();
    check_keyboard_watch_left();
    testctl_close(&link);
    return failed == 0 ? 0 : 1;
}
