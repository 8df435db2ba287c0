#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"

namespace {

std::FILE* file_of(console_stream stream) {
    return stream == console_err ? stderr : stdout;
}

// The GNU strerror_r gives back its words, not always in the buffer; the
// POSIX one puts them into the buffer.
[[maybe_unused]] const char* words(const char* given, const char*) {
    return given;
}
[[maybe_unused]] const char* words(int, const char* buffer) {
    return buffer;
}

}  // namespace

void console_write(console_stream stream, const char* text, size_t size) {
    std::fwrite(text, 1, size, file_of(stream));
}

void console_flush(console_stream stream) {
    std::fflush(file_of(stream));
}

console_answer console_write_direct(const char* text, size_t size, char* why, size_t why_cap) {
    bool started = false;
    while (size > 0) {
        ssize_t written = write(STDOUT_FILENO, text, size);
        if (written > 0) {
            started = true;
            text += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!started) return console_busy;
            // Part of the text is out: the rest waits, so that no line is cut.
            pollfd ready = {STDOUT_FILENO, POLLOUT, 0};
            if (poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
        }
        int error = written < 0 ? errno : EIO;
        char buffer[128] = "";
        if (why_cap > 0) std::snprintf(why, why_cap, "%s", words(strerror_r(error, buffer, sizeof buffer), buffer));
        return console_failed;
    }
    return console_took;
}
