#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "console/console.h"

namespace {

std::FILE* file_of(console_stream stream) {
    return stream == console_err ? stderr : stdout;
}

}  // namespace

void console_write(console_stream stream, const char* text, size_t size) {
    std::fwrite(text, 1, size, file_of(stream));
}

void console_flush(console_stream stream) {
    std::fflush(file_of(stream));
}

bool console_write_direct(const char* text, size_t size) {
    while (size > 0) {
        ssize_t written = write(STDOUT_FILENO, text, size);
        if (written > 0) {
            text += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        // A standard output that someone made non-blocking: wait until it
        // takes text again.
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready = {STDOUT_FILENO, POLLOUT, 0};
            if (poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
            continue;
        }
        return false;
    }
    return true;
}
