#include "replay/utf8_path.h"

#include <stdio.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "keymap/text.h"

namespace {

std::vector<wchar_t> wide(const char* path) {
    std::vector<char16_t> wide_path(std::strlen(path) + 1);
    utf8_to_utf16(path, wide_path.data(), wide_path.size());
    return std::vector<wchar_t>(wide_path.begin(), wide_path.end());
}

}  // namespace

std::FILE* open_utf8_path(const char* path, const char* mode) {
    std::vector<wchar_t> name = wide(path);
    wchar_t wide_mode[8] = {};
    for (size_t i = 0; i + 1 < sizeof wide_mode / sizeof wide_mode[0] && mode[i]; ++i) wide_mode[i] = mode[i];
    return _wfopen(name.data(), wide_mode);
}

bool rename_over_utf8_path(const char* from, const char* to) {
    return MoveFileExW(wide(from).data(), wide(to).data(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool remove_utf8_path(const char* path) {
    return DeleteFileW(wide(path).data()) != FALSE;
}
