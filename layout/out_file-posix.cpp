#include "layout/out_file.h"

#include <sys/stat.h>

#include <cstdio>

#include "keymap/text.h"

namespace {

std::string utf8_name(const char16_t* path) {
    size_t units = 0;
    while (path[units] != 0) ++units;
    std::string name(units * 3 + 1, '\0');
    name.resize(utf16_to_utf8(path, &name[0], name.size()));
    return name;
}

}  // namespace

bool same_existing_file(const char16_t* a, const char16_t* b) {
    struct stat first, second;
    if (stat(utf8_name(a).c_str(), &first) != 0 || stat(utf8_name(b).c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool write_output_file(const char16_t* path, const std::string& bytes) {
    std::string name = utf8_name(path);

    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0) ok = false;
    if (!ok) std::remove(name.c_str());
    return ok;
}
