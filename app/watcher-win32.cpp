#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/log_file.h"
#include "app/padmapw-win32.h"
#include "app/watched_loop-win32.h"
#include "app/watcher.h"
#include "keymap/text.h"

void mark_end(loop_end how) {
    wchar_t name[128];
    if (!watched_loop_name(name, sizeof name / sizeof name[0])) return;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (mapping == nullptr) return;
    auto* shared = static_cast<watched_loop*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(watched_loop)));
    if (shared != nullptr) {
        shared->ended.store(how, std::memory_order_release);
        UnmapViewOfFile(shared);
    }
    CloseHandle(mapping);
}

namespace {

// The watcher writes to padmapw's log only while no loop runs: the file is
// the loop's the rest of the time.
void log_lines(const std::string& text) {
    log_file log;
    log.handle = os_null_handle;
    if (!open_log_file(&log, padmapw_folder(L"LOCALAPPDATA"))) return;
    log_file_sink(&log, text.data(), text.size());
    close_log_file(&log);
}

std::wstring wide_text(const std::string& text) {
    std::u16string units = utf16_text(text.c_str());
    return std::wstring(units.begin(), units.end());
}

// Starts padmapw as the loop, as this process was started; returns its
// process, or null (the reason logged).
HANDLE start_loop_process() {
    wchar_t own[MAX_PATH * 4];
    DWORD units = GetModuleFileNameW(nullptr, own, sizeof own / sizeof own[0]);
    std::wstring command = GetCommandLineW();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (units == 0 || units >= sizeof own / sizeof own[0] ||
        !CreateProcessW(own, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        char why[512];
        os_error_text(GetLastError(), why, sizeof why);
        log_lines(std::string("padmapw cannot start its key loop: ") + why + "\n");
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

}  // namespace

int run_watcher() {
    wchar_t name[128];
    std::swprintf(name, sizeof name / sizeof name[0], L"Local\\padmapw-keys-%lu",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(watched_loop), name);
    auto* shared = mapping != nullptr ? static_cast<watched_loop*>(MapViewOfFile(
                                            mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, sizeof(watched_loop)))
                                      : nullptr;
    if (shared == nullptr) {
        log_lines("padmapw cannot share memory with its key loop\n");
        return 1;
    }
    wchar_t variable[160];
    std::swprintf(variable, sizeof variable / sizeof variable[0], L"%lu %ls",
                  static_cast<unsigned long>(GetCurrentProcessId()), name);
    SetEnvironmentVariableW(watched_loop_variable, variable);
    restart_record restarts;
    reset_restart_record(&restarts);
    // One watcher a session: a second padmapw hands its files over instead.
    HANDLE only = CreateMutexW(nullptr, TRUE, watcher_mutex_name);
    DWORD status = 1;
    bool gave_up = false;
    for (;;) {
        reset_published_keys(&shared->keys);
        shared->ended.store(0, std::memory_order_release);
        HANDLE loop = start_loop_process();
        if (loop == nullptr) break;
        WaitForSingleObject(loop, INFINITE);
        GetExitCodeProcess(loop, &status);
        CloseHandle(loop);
        uint32_t how = shared->ended.load(std::memory_order_acquire);
        if (how == loop_ended_cleanly) break;
        if (how == loop_left_keys) {
            std::string said;
            release_published(&shared->keys, &said);
            log_lines(said);
            break;
        }
        if (gave_up) break;
        std::string ended = loop_ended_line(status);
        std::string said = ended;
        release_published(&shared->keys, &said);
        int64_t delay = restart_delay(&restarts, GetTickCount64());
        std::string next = restart_line(delay);
        log_lines(said + next);
        // The next padmapw says it in a notification (the icon went with the
        // process that ended).
        std::string notice = ended.substr(0, ended.size() - 1) + "; " + next.substr(0, next.size() - 1);
        // Once it gives up, the last restart's notice is not said again.
        if (delay < 0) SetEnvironmentVariableW(padmapw_restarted_variable, nullptr);
        SetEnvironmentVariableW(delay < 0 ? padmapw_gave_up_variable : padmapw_restarted_variable,
                                wide_text(notice).c_str());
        gave_up = delay < 0;
        if (delay >= 0) Sleep(static_cast<DWORD>(delay));
    }
    if (only != nullptr) {
        ReleaseMutex(only);
        CloseHandle(only);
    }
    UnmapViewOfFile(shared);
    CloseHandle(mapping);
    return static_cast<int>(status);
}
