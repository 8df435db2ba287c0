#include "layout/out_file.h"

#include <cstdio>

#include "keymap/text.h"

bool write_output_file(const char16_t* path, const std::string& bytes)
{
    size_t units = 0;
    while (path[units] != 0)
        ++units;
    std::string name(units * 3 + 1, '\0');
    name.resize(utf16_to_utf8(path, &name[0], name.size()));

    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok)
        std::remove(name.c_str());
    return ok;
}
