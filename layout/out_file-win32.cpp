#include "layout/out_file.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring wide_name(const char16_t* path) {
    std::wstring name;
    for (const char16_t* p = path; *p; ++p) name += (wchar_t)*p;
    return name;
}

// The volume and file index name one file, whatever path leads to it.
bool file_identity(const char16_t* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = CreateFileW(wide_name(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return ok;
}

}  // namespace

bool same_existing_file(const char16_t* a, const char16_t* b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    if (!file_identity(a, &first) || !file_identity(b, &second)) return false;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool write_output_file(const char16_t* path, const std::string& bytes) {
    std::wstring name = wide_name(path);

    std::FILE* file = _wfopen(name.c_str(), L"wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0) ok = false;
    if (!ok) _wremove(name.c_str());
    return ok;
}
