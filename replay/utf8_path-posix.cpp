#include "replay/utf8_path.h"

std::FILE* open_utf8_path(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

bool rename_over_utf8_path(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

bool remove_utf8_path(const char* path) {
    return std::remove(path) == 0;
}
