#include "testdrv/command_line.h"

#include <cwchar>

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

bool start_with_output(int argc, const wchar_t* const* argv, const wchar_t* stdout_path, DWORD creation_flags,
                       PROCESS_INFORMATION* started) {
    static wchar_t line[command_line_units];
    line[0] = 0;
    for (int i = 0; i < argc; ++i) {
        if (!append_quoted(line, command_line_units, argv[i])) return false;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(stdout_path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    bool made = out != INVALID_HANDLE_VALUE && in != INVALID_HANDLE_VALUE;
    BOOL ok = FALSE;
    if (made) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = out;
        ok = CreateProcessW(argv[0], line, nullptr, nullptr, TRUE, creation_flags, nullptr, nullptr, &startup, started);
    }
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (!ok) return false;
    CloseHandle(started->hThread);
    return true;
}

bool write_file(const wchar_t* path, const std::string& bytes) {
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    return CloseHandle(file) && ok;
}

bool exited(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

HANDLE limited_token() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    TOKEN_ELEVATION elevation = {};
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                    elevation.TokenIsElevated &&
                    GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(token);
    return elevated ? linked.LinkedToken : nullptr;
}
