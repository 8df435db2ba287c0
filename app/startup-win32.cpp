#include "app/startup.h"

#include <windows.h>

#include <string>

#include "driver/os.h"

namespace {

const wchar_t run_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t value_name[] = L"padmap";

void say_error(LSTATUS error, std::string* why) {
    char words[512];
    os_error_text(static_cast<uint32_t>(error), words, sizeof words);
    *why = words;
}

// padmapw.exe in the folder of the running program (padmap.exe or padmapw.exe).
std::wstring padmapw_path() {
    wchar_t path[MAX_PATH * 4];
    DWORD units = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    std::wstring own(path, units);
    size_t slash = own.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : own.substr(0, slash + 1)) + L"padmapw.exe";
}

std::wstring full_path(const char16_t* path) {
    wchar_t full[MAX_PATH * 4];
    DWORD units = GetFullPathNameW(reinterpret_cast<const wchar_t*>(path), sizeof full / sizeof full[0], full, nullptr);
    return units > 0 && units < sizeof full / sizeof full[0] ? std::wstring(full, units)
                                                             : std::wstring(reinterpret_cast<const wchar_t*>(path));
}

}  // namespace

bool startup_on(int count, const char16_t* const* configs, std::string* why) {
    std::wstring command = L"\"" + padmapw_path() + L"\"";
    for (int i = 0; i < count; ++i) command += L" \"" + full_path(configs[i]) + L"\"";
    HKEY key = nullptr;
    LSTATUS opened = RegCreateKeyExW(HKEY_CURRENT_USER, run_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (opened != ERROR_SUCCESS) {
        say_error(opened, why);
        return false;
    }
    LSTATUS set = RegSetValueExW(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                 static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (set != ERROR_SUCCESS) say_error(set, why);
    return set == ERROR_SUCCESS;
}

bool startup_off(std::string* why) {
    HKEY key = nullptr;
    LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, run_key, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) {
        say_error(opened, why);
        return false;
    }
    LSTATUS removed = RegDeleteValueW(key, value_name);
    RegCloseKey(key);
    if (removed == ERROR_FILE_NOT_FOUND) return true;
    if (removed != ERROR_SUCCESS) say_error(removed, why);
    return removed == ERROR_SUCCESS;
}

bool startup_is_on() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, run_key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    bool there = RegQueryValueExW(key, value_name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return there;
}
