#include "keymap/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "keymap/text.h"

struct config_file {
    int fd;
};

// Linux refuses longer paths anyway; a path that does not fit is not opened
// rather than opened cut short.
constexpr size_t path_bytes = 4096;

namespace {

bool has_lone_surrogate(const char16_t* path) {
    for (size_t i = 0; path[i] != 0; ++i) {
        char16_t unit = path[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (path[i + 1] < 0xDC00 || path[i + 1] > 0xDFFF) return true;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

}  // namespace

config_file* open_config_file(const char16_t* path) {
    // A lone surrogate would be written as U+FFFD: another file's name.
    if (has_lone_surrogate(path)) return nullptr;
    char name[path_bytes + 4];
    if (utf16_to_utf8(path, name, sizeof name) >= path_bytes) return nullptr;
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    config_file* file = new (std::nothrow) config_file;
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    file->fd = fd;
    return file;
}

long read_config_file(config_file* file, uint8_t* into, size_t cap) {
    for (;;) {
        ssize_t got = read(file->fd, into, cap);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -1;
    }
}

void close_config_file(config_file* file) {
    if (file == nullptr) return;
    close(file->fd);
    delete file;
}
