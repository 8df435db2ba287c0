#include "replay/utf8_path.h"

#include <stdio.h>

#include <cstring>
#include <vector>

#include "keymap/text.h"

std::FILE* open_utf8_path(const char* path, const char* mode) {
    std::vector<char16_t> wide_path(std::strlen(path) + 1);
    utf8_to_utf16(path, wide_path.data(), wide_path.size());
    std::vector<wchar_t> name(wide_path.begin(), wide_path.end());
    wchar_t wide_mode[8] = {};
    for (size_t i = 0; i + 1 < sizeof wide_mode / sizeof wide_mode[0] && mode[i]; ++i) wide_mode[i] = mode[i];
    return _wfopen(name.data(), wide_mode);
}
