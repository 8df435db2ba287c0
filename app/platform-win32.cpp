#include "app/platform.h"

#include "app/listening_window-win32.h"
#include "app/watched_loop-win32.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include <dbt.h>

// A message-only window on a thread of its own takes the system's
// notification for the keyboard class and does nothing but set the watch's
// event.
struct os_keyboard_watch {
    HANDLE event;
    listening_window* listener;
};

namespace {

// The device interface class of keyboards.
const GUID keyboard_class = {0x884b96c3, 0x56ef, 0x11d1, {0xbc, 0x8c, 0x00, 0xa0, 0xc9, 0x14, 0x05, 0xdd}};

LRESULT CALLBACK watch_window(HWND window, UINT message, WPARAM what, LPARAM detail) {
    if (message == WM_DEVICECHANGE) {
        if (what == DBT_DEVICEARRIVAL || what == DBT_DEVICEREMOVECOMPLETE || what == DBT_DEVNODES_CHANGED) {
            auto* watch = reinterpret_cast<os_keyboard_watch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            if (watch != nullptr) SetEvent(watch->event);
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, what, detail);
}

// The window takes the messages sent to it even where the system does not
// register the interest; the slow poll covers what then goes unnoticed.
void* notice_keyboards(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_W interest = {};
    interest.dbcc_size = sizeof interest;
    interest.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    interest.dbcc_classguid = keyboard_class;
    return RegisterDeviceNotificationW(window, &interest, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void forget_keyboards(HWND, void* registration) {
    if (registration != nullptr) UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(registration));
}

const listening_window_kind keyboard_listener = {L"padmap-keyboard-watch", watch_window, false, notice_keyboards,
                                                 forget_keyboards};

void free_keyboard_watch(void* context) {
    auto* watch = static_cast<os_keyboard_watch*>(context);
    if (watch->event != nullptr) CloseHandle(watch->event);
    HeapFree(GetProcessHeap(), 0, watch);
}

}  // namespace

os_keyboard_watch* os_watch_keyboards() {
    auto* watch =
        static_cast<os_keyboard_watch*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(os_keyboard_watch)));
    if (watch == nullptr) return nullptr;
    watch->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->event == nullptr) {
        free_keyboard_watch(watch);
        return nullptr;
    }
    // A watch whose window cannot be made is freed with it.
    listening_window* listener = open_listening_window(&keyboard_listener, watch, free_keyboard_watch);
    if (listener == nullptr) return nullptr;
    watch->listener = listener;
    return watch;
}

os_handle os_keyboard_watch_event(const os_keyboard_watch* watch) {
    return watch != nullptr ? reinterpret_cast<os_handle>(watch->event) : os_null_handle;
}

bool os_unwatch_keyboards(os_keyboard_watch* watch) {
    return watch == nullptr || close_listening_window(watch->listener);
}

struct os_folder_watch {
    HANDLE folder;
    HANDLE event;
    OVERLAPPED overlapped;
    bool listening;  // a ReadDirectoryChangesW is under way
    // Each file's name as given, and its long and its short (8.3) name where
    // they differ from it: the system reports a change by either.
    int name_count;
    wchar_t names[os_folder_watch_names * 3][os_folder_name_units + 1];
    // What the system reports, in FILE_NOTIFY_INFORMATION records, which
    // must be DWORD-aligned.
    DWORD changes[4096];
};

namespace {

constexpr DWORD folder_changes = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

bool listen_to_folder(os_folder_watch* watch) {
    ResetEvent(watch->event);
    std::memset(&watch->overlapped, 0, sizeof watch->overlapped);
    watch->overlapped.hEvent = watch->event;
    watch->listening = ReadDirectoryChangesW(watch->folder, watch->changes, sizeof watch->changes, FALSE,
                                             folder_changes, nullptr, &watch->overlapped, nullptr) != FALSE;
    return watch->listening;
}

// A file's 8.3 name (as "PADMAP~1.CFG"): the system may report a change by
// either of a file's names, and a watched file's short name is not known
// for sure (a file made anew may get another), so such a name may be any.
bool looks_like_short_name(const wchar_t* name, int units) {
    if (units > 12) return false;
    for (int i = 0; i + 1 < units; ++i) {
        if (name[i] == L'~' && name[i + 1] >= L'0' && name[i + 1] <= L'9') return true;
    }
    return false;
}

bool names_watched_file(const os_folder_watch* watch, const wchar_t* name, int units) {
    if (looks_like_short_name(name, units)) return true;
    for (int i = 0; i < watch->name_count; ++i) {
        if (CompareStringOrdinal(name, units, watch->names[i], -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

void add_name(os_folder_watch* watch, const wchar_t* name, size_t units) {
    if (units == 0 || units > os_folder_name_units) return;
    for (int i = 0; i < watch->name_count; ++i) {
        if (CompareStringOrdinal(name, static_cast<int>(units), watch->names[i], -1, TRUE) == CSTR_EQUAL) return;
    }
    std::memcpy(watch->names[watch->name_count], name, units * sizeof(wchar_t));
    watch->names[watch->name_count++][units] = 0;
}

// The last part of the path the system gives for the file, as a name.
void add_other_form(os_folder_watch* watch, const std::wstring& path, DWORD(WINAPI* convert)(LPCWSTR, LPWSTR, DWORD)) {
    wchar_t converted[MAX_PATH * 4];
    DWORD length = convert(path.c_str(), converted, sizeof converted / sizeof converted[0]);
    if (length == 0 || length >= sizeof converted / sizeof converted[0]) return;
    const wchar_t* name = converted + length;
    while (name > converted && name[-1] != L'\\' && name[-1] != L'/' && name[-1] != L':') --name;
    add_name(watch, name, converted + length - name);
}

// A cancelled request ends in milliseconds; the end of a run does not wait
// longer than this for one that does not.
constexpr DWORD folder_cancel_limit_ms = 2000;

bool free_folder_watch(os_folder_watch* watch) {
    if (watch->listening) {
        // The system writes into the watch until the request is over: a
        // request that does not end leaves the watch as it is, never freed.
        CancelIoEx(watch->folder, &watch->overlapped);
        if (WaitForSingleObject(watch->event, folder_cancel_limit_ms) != WAIT_OBJECT_0) return false;
        DWORD bytes = 0;
        GetOverlappedResult(watch->folder, &watch->overlapped, &bytes, FALSE);
    }
    if (watch->event != nullptr) CloseHandle(watch->event);
    if (watch->folder != INVALID_HANDLE_VALUE) CloseHandle(watch->folder);
    HeapFree(GetProcessHeap(), 0, watch);
    return true;
}

}  // namespace

os_folder_watch* os_watch_folder(const char16_t* folder, const char16_t* const* names, int count) {
    if (folder == nullptr || names == nullptr || count < 1 || count > os_folder_watch_names) return nullptr;
    auto* watch = static_cast<os_folder_watch*>(HeapAlloc(GetProcessHeap(), 0, sizeof(os_folder_watch)));
    if (watch == nullptr) return nullptr;
    watch->listening = false;
    watch->event = nullptr;
    watch->name_count = 0;
    const auto* folder_text = reinterpret_cast<const wchar_t*>(folder);
    // Reading its attributes tells whether the folder at the path is still this one.
    watch->folder = CreateFileW(folder_text, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    std::wstring prefix(folder_text);
    if (!prefix.empty() && prefix.back() != L'\\' && prefix.back() != L'/' && prefix.back() != L':') prefix += L'\\';
    bool names_fit = true;
    for (int i = 0; i < count; ++i) {
        size_t units = names[i] != nullptr ? std::char_traits<char16_t>::length(names[i]) : 0;
        names_fit = units > 0 && units <= os_folder_name_units;
        if (!names_fit) break;
        const auto* name = reinterpret_cast<const wchar_t*>(names[i]);
        add_name(watch, name, units);
        add_other_form(watch, prefix + name, GetLongPathNameW);
        add_other_form(watch, prefix + name, GetShortPathNameW);
    }
    if (watch->folder != INVALID_HANDLE_VALUE) watch->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!names_fit || watch->event == nullptr || !listen_to_folder(watch)) {
        free_folder_watch(watch);
        return nullptr;
    }
    return watch;
}

os_handle os_folder_watch_handle(const os_folder_watch* watch) {
    return watch != nullptr ? reinterpret_cast<os_handle>(watch->event) : os_null_handle;
}

os_folder_news os_take_folder_changes(os_folder_watch* watch) {
    if (watch == nullptr || !watch->listening) return os_folder_lost;
    DWORD bytes = 0;
    BOOL done = GetOverlappedResult(watch->folder, &watch->overlapped, &bytes, FALSE);
    if (!done && GetLastError() == ERROR_IO_INCOMPLETE) return os_folder_others;
    watch->listening = false;
    if (!done && GetLastError() != ERROR_NOTIFY_ENUM_DIR) return os_folder_lost;
    // No records: more changed than the buffer holds.
    bool named = !done || bytes == 0;
    for (DWORD at = 0; !named && at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
        const auto* change =
            reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(reinterpret_cast<const uint8_t*>(watch->changes) + at);
        if (at + offsetof(FILE_NOTIFY_INFORMATION, FileName) + change->FileNameLength > bytes) break;
        named = names_watched_file(watch, change->FileName, static_cast<int>(change->FileNameLength / sizeof(wchar_t)));
        if (change->NextEntryOffset == 0) break;
        at += change->NextEntryOffset;
    }
    if (!listen_to_folder(watch)) return os_folder_lost;
    return named ? os_folder_named : os_folder_others;
}

bool os_folder_watch_current(const os_folder_watch* watch, const char16_t* folder) {
    BY_HANDLE_FILE_INFORMATION watched;
    // A watch that cannot be asked shows no sign of its loss.
    if (watch == nullptr || !GetFileInformationByHandle(watch->folder, &watched)) return true;
    HANDLE now = CreateFileW(reinterpret_cast<const wchar_t*>(folder), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (now == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION found;
    bool same = GetFileInformationByHandle(now, &found) && found.nFileIndexHigh == watched.nFileIndexHigh &&
                found.nFileIndexLow == watched.nFileIndexLow &&
                found.dwVolumeSerialNumber == watched.dwVolumeSerialNumber;
    CloseHandle(now);
    return same;
}

bool os_unwatch_folder(os_folder_watch* watch) {
    if (watch == nullptr) return true;
    return free_folder_watch(watch);
}

uint64_t os_now_ms() {
    return GetTickCount64();
}

uintptr_t os_foreground_window() {
    return reinterpret_cast<uintptr_t>(GetForegroundWindow());
}

bool os_window_program(uintptr_t window, char16_t* name, size_t cap) {
    if (window == 0 || cap == 0) return false;
    DWORD process_id = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process_id);
    if (process_id == 0) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) return false;
    wchar_t path[MAX_PATH * 4];
    DWORD length = sizeof path / sizeof path[0];
    BOOL asked = QueryFullProcessImageNameW(process, 0, path, &length);
    CloseHandle(process);
    if (!asked) return false;
    DWORD start = length;
    while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') --start;
    if (length - start + 1 > cap) return false;
    for (DWORD i = start; i < length; ++i) name[i - start] = static_cast<char16_t>(path[i]);
    name[length - start] = 0;
    return true;
}

bool watched_loop_name(wchar_t* name, size_t cap, DWORD* watcher) {
    wchar_t value[160];
    DWORD units = GetEnvironmentVariableW(watched_loop_variable, value, sizeof value / sizeof value[0]);
    if (units == 0 || units >= sizeof value / sizeof value[0]) return false;
    wchar_t* rest = nullptr;
    unsigned long pid = std::wcstoul(value, &rest, 10);
    if (rest == value || *rest != L' ' || std::wcslen(rest + 1) + 1 > cap) return false;
    std::wcscpy(name, rest + 1);
    if (watcher != nullptr) *watcher = static_cast<DWORD>(pid);
    return true;
}

published_keys* os_published_keys() {
    wchar_t name[128];
    if (!watched_loop_name(name, sizeof name / sizeof name[0])) return nullptr;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE | FILE_MAP_READ, FALSE, name);
    if (mapping == nullptr) return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, sizeof(watched_loop));
    // The view keeps the memory: the mapping's handle is not needed.
    CloseHandle(mapping);
    return view != nullptr ? &static_cast<watched_loop*>(view)->keys : nullptr;
}

void os_unpublish_keys(published_keys* table) {
    if (table != nullptr) UnmapViewOfFile(table);
}

bool os_raise_priority() {
    return SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS) != FALSE;
}
