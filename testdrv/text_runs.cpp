#include "testdrv/text_runs.h"

#include <cwchar>

namespace {

wchar_t desktop_name[64];

}  // namespace

bool join_desktop() {
    std::swprintf(desktop_name, sizeof desktop_name / sizeof desktop_name[0], L"padmap-texts-%lu",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    HDESK desktop = CreateDesktopW(desktop_name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    return desktop != nullptr && SetThreadDesktop(desktop);
}

bool start_on_desktop(const std::wstring& command, const wchar_t* output_path, DWORD flags, HANDLE* process,
                      HANDLE token) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(output_path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    std::wstring line = command;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop_name;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION started = {};
    BOOL ok = token == nullptr ? CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                                &startup, &started)
                               : CreateProcessAsUserW(token, nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr,
                                                      nullptr, &startup, &started);
    CloseHandle(out);
    if (!ok) return false;
    CloseHandle(started.hThread);
    *process = started.hProcess;
    return true;
}

std::string read_file(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}
