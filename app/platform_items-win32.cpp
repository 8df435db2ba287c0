#include "app/platform_items.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "driver/os.h"

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

INPUT key_input(WORD key, WORD unit, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = unit;
    input.ki.dwFlags = flags;
    return input;
}

// A path from a drive or from the root (a network path among them).
bool is_full_path(const std::u16string& path) {
    if (path.size() >= 2 && path[1] == u':') return true;
    return !path.empty() && (path[0] == u'\\' || path[0] == u'/');
}

// A target names a place of its own when it is a full path or has a scheme
// ("https:", "mailto:"); any other is taken from the folder.
bool stands_alone(const std::u16string& target) {
    if (is_full_path(target)) return true;
    size_t colon = target.find(u':');
    if (colon == std::u16string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        char16_t c = target[i];
        bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (!letter && !(i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'))) return false;
    }
    return true;
}

// A program named by a relative path that is a file in the configuration's
// folder (as written, or with .exe added) is started from there: the
// command line then names it by its full path. Any other is looked for as
// CreateProcessW looks (padmap's folder, the system's, PATH).
std::u16string from_folder(const char16_t* command, const char16_t* folder) {
    std::u16string line = command;
    bool quoted = !line.empty() && line[0] == u'"';
    size_t end = quoted ? line.find(u'"', 1) : line.find_first_of(u" \t");
    if (quoted && end == std::u16string::npos) return line;
    if (end == std::u16string::npos) end = line.size();
    std::u16string program = line.substr(quoted ? 1 : 0, end - (quoted ? 1 : 0));
    if (program.empty() || is_full_path(program)) return line;
    for (const char16_t* ending : {u"", u".exe"}) {
        std::u16string path = std::u16string(folder) + u"\\" + program + ending;
        DWORD attributes = GetFileAttributesW(wide(path.c_str()));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        wchar_t full[MAX_PATH * 4];
        DWORD length = GetFullPathNameW(wide(path.c_str()), MAX_PATH * 4, full, nullptr);
        if (length > 0 && length < MAX_PATH * 4) path.assign(full, full + length);
        return u"\"" + path + u"\"" + line.substr(quoted ? end + 1 : end);
    }
    return line;
}

bool run_program(const char16_t* command, const char16_t* folder, char* why, size_t cap) {
    std::u16string program = from_folder(command, folder);
    // CreateProcessW may write to the command line it is given.
    std::vector<wchar_t> line(wide(program.c_str()), wide(program.c_str()) + program.size() + 1);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // No handle is inherited (the driver's above all); a console program
    // gets a console of its own rather than padmap's.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT,
                        nullptr, wide(folder), &startup, &process)) {
        os_error_text(GetLastError(), why, cap);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool open_target(const char16_t* target, const char16_t* folder, char* why, size_t cap) {
    std::u16string place = target;
    if (!stands_alone(place)) place = std::u16string(folder) + u"\\" + place;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // The call returns once the system has started what opens the target,
    // with its error when it could not.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = wide(place.c_str());
    info.lpDirectory = wide(folder);
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        os_error_text(GetLastError(), why, cap);
        return false;
    }
    return true;
}

}  // namespace

uint32_t os_type_text(const char16_t* units, size_t count, const char* /*written*/) {
    std::vector<INPUT> inputs;
    inputs.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        // Enter and Tab go as the keys: a window takes them as it takes the
        // keys, where a character 10 or 9 means little to most.
        WORD key = units[i] == u'\n' ? VK_RETURN : units[i] == u'\t' ? VK_TAB : 0;
        WORD unit = key != 0 ? 0 : static_cast<WORD>(units[i]);
        DWORD flags = key != 0 ? 0 : KEYEVENTF_UNICODE;
        inputs.push_back(key_input(key, unit, flags));
        inputs.push_back(key_input(key, unit, flags | KEYEVENTF_KEYUP));
    }
    if (inputs.empty()) return 0;
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void os_program_handed(const char*, const char*) {}

bool os_start_program(item_kind kind, const char16_t* command, const char16_t* folder, char* why, size_t cap) {
    if (cap > 0) why[0] = 0;
    if (kind != item_open) return run_program(command, folder, why, cap);
    // ShellExecuteExW may hand the work to COM: the worker's thread has it
    // while it opens the target.
    bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    bool opened = open_target(command, folder, why, cap);
    if (com) CoUninitialize();
    return opened;
}

bool os_elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                    elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}
