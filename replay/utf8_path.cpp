#include "replay/utf8_path.h"

bool copy_utf8_path(const char* from, const char* to) {
    std::FILE* in = open_utf8_path(from, "rb");
    if (in == nullptr) return false;
    std::FILE* out = open_utf8_path(to, "wb");
    bool ok = out != nullptr;
    char buffer[4096];
    size_t got;
    while (ok && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0) ok = std::fwrite(buffer, 1, got, out) == got;
    ok = ok && std::ferror(in) == 0;
    std::fclose(in);
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    return ok;
}
