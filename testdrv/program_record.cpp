// A program padmap starts in the driver stage's check of texts and
// programs, that writes down how it was started:
//
//   padmap-record-program [RECORD_FILE [ARG...]]
//
// It writes RECORD_FILE (without one: program-record.txt beside the program
// itself), UTF-8, four lines: "command line: " and its command line as the
// system gave it; "working folder: " and its working folder; "handles: "
// and how many handle values are open in it (a program that inherited
// handles has more than one started with none); "console processes: " and
// how many processes share its console (1: a console of its own).
//
// Exit status 3 when the file cannot be written.

#include <cstdio>
#include <string>

#include <windows.h>

namespace {

std::string utf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Handle values are multiples of 4; a new process holds a few dozen.
int open_handles() {
    int count = 0;
    for (uintptr_t value = 4; value < 65536; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring path;
    if (argv != nullptr && argc >= 2) {
        path = argv[1];
    } else {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        path = self;
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"program-record.txt";
    }
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    DWORD processes[8];
    char counts[96];
    std::snprintf(counts, sizeof counts, "handles: %d\nconsole processes: %lu\n", open_handles(),
                  static_cast<unsigned long>(GetConsoleProcessList(processes, 8)));
    std::string text = "command line: " + utf8(GetCommandLineW()) + "\nworking folder: " + utf8(folder) + "\n" + counts;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    return CloseHandle(file) && ok ? 0 : 3;
}
