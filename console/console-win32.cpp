#include <windows.h>

#include <cstdio>

#include "console/console.h"

namespace {

constexpr size_t chunk_bytes = 4096;

HANDLE handle_of(console_stream stream) {
    return GetStdHandle(stream == console_err ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

std::FILE* file_of(console_stream stream) {
    return stream == console_err ? stderr : stdout;
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != FALSE;
}

bool is_continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// UTF-8 to the console as UTF-16, in pieces cut between characters.
// Ill-formed bytes show as U+FFFD.
bool write_console(HANDLE console, const char* text, size_t size) {
    wchar_t wide[chunk_bytes];
    while (size > 0) {
        size_t take = size < chunk_bytes ? size : chunk_bytes;
        if (take < size) {
            size_t cut = take;
            while (cut > take - 4 && is_continuation(text[cut])) --cut;
            if (cut > take - 4) take = cut;
        }
        int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(take), wide, static_cast<int>(chunk_bytes));
        if (units <= 0) return false;
        const wchar_t* at = wide;
        while (units > 0) {
            DWORD written = 0;
            if (!WriteConsoleW(console, at, static_cast<DWORD>(units), &written, nullptr) || written == 0) return false;
            at += written;
            units -= static_cast<int>(written);
        }
        text += take;
        size -= take;
    }
    return true;
}

bool write_all(HANDLE handle, const char* text, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        DWORD piece = size < chunk_bytes ? static_cast<DWORD>(size) : static_cast<DWORD>(chunk_bytes);
        if (!WriteFile(handle, text, piece, &written, nullptr) || written == 0) return false;
        text += written;
        size -= written;
    }
    return true;
}

// The same bytes the C runtime's text mode writes: LF as CR LF.
bool write_file_text(HANDLE handle, const char* text, size_t size) {
    char out[chunk_bytes * 2];
    while (size > 0) {
        size_t used = 0;
        size_t taken = 0;
        while (taken < size && used + 2 <= sizeof out) {
            if (text[taken] == '\n') out[used++] = '\r';
            out[used++] = text[taken++];
        }
        if (!write_all(handle, out, used)) return false;
        text += taken;
        size -= taken;
    }
    return true;
}

}  // namespace

void console_write(console_stream stream, const char* text, size_t size) {
    HANDLE handle = handle_of(stream);
    if (is_console(handle)) {
        std::fflush(file_of(stream));
        write_console(handle, text, size);
        return;
    }
    std::fwrite(text, 1, size, file_of(stream));
}

void console_flush(console_stream stream) {
    std::fflush(file_of(stream));
}

bool console_write_direct(const char* text, size_t size) {
    HANDLE handle = handle_of(console_out);
    if (is_console(handle)) return write_console(handle, text, size);
    return write_file_text(handle, text, size);
}
