#include "replay/utf8_path.h"

std::FILE* open_utf8_path(const char* path, const char* mode) {
    return std::fopen(path, mode);
}
