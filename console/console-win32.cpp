#include <windows.h>

#include <io.h>

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

// A write that succeeds without taking a byte is an output in no-wait mode
// that is full: busy when nothing of the text is out yet, otherwise the
// rest is offered again after this long, so that no line is cut.
constexpr DWORD retry_ms = 10;

// UTF-8 to the console as UTF-16, in pieces cut between characters.
// Ill-formed bytes show as U+FFFD.
console_answer write_console(HANDLE console, const char* text, size_t size) {
    wchar_t wide[chunk_bytes];
    bool started = false;
    while (size > 0) {
        size_t take = size < chunk_bytes ? size : chunk_bytes;
        if (take < size) {
            size_t cut = take;
            while (cut > take - 4 && is_continuation(text[cut])) --cut;
            if (cut > take - 4) take = cut;
        }
        int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(take), wide, static_cast<int>(chunk_bytes));
        if (units <= 0) return console_failed;
        const wchar_t* at = wide;
        while (units > 0) {
            DWORD written = 0;
            if (!WriteConsoleW(console, at, static_cast<DWORD>(units), &written, nullptr)) return console_failed;
            if (written == 0 && !started) return console_busy;
            if (written == 0) Sleep(retry_ms);
            started = started || written > 0;
            at += written;
            units -= static_cast<int>(written);
        }
        text += take;
        size -= take;
    }
    return console_took;
}

console_answer write_all(HANDLE handle, const char* text, size_t size, bool* started) {
    while (size > 0) {
        DWORD written = 0;
        DWORD piece = size < chunk_bytes ? static_cast<DWORD>(size) : static_cast<DWORD>(chunk_bytes);
        if (!WriteFile(handle, text, piece, &written, nullptr)) return console_failed;
        if (written == 0 && !*started) return console_busy;
        if (written == 0) Sleep(retry_ms);
        *started = *started || written > 0;
        text += written;
        size -= written;
    }
    return console_took;
}

// The same bytes the C runtime's text mode writes: LF as CR LF.
console_answer write_file_text(HANDLE handle, const char* text, size_t size) {
    char out[chunk_bytes * 2];
    bool started = false;
    while (size > 0) {
        size_t used = 0;
        size_t taken = 0;
        while (taken < size && used + 2 <= sizeof out) {
            if (text[taken] == '\n') out[used++] = '\r';
            out[used++] = text[taken++];
        }
        console_answer answer = write_all(handle, out, used, &started);
        if (answer != console_took) return answer;
        text += taken;
        size -= taken;
    }
    return console_took;
}

// The system's words for the error, without the full stop and line end it
// ends them with; its number where it has none.
void describe(DWORD error, char* why, size_t cap) {
    wchar_t words[256];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, words,
                                 sizeof words / sizeof words[0], nullptr);
    while (units > 0 && (words[units - 1] == L'\r' || words[units - 1] == L'\n' || words[units - 1] == L'.' ||
                         words[units - 1] == L' ')) {
        --units;
    }
    int bytes = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, words, static_cast<int>(units), why,
                                                static_cast<int>(cap) - 1, nullptr, nullptr)
                          : 0;
    if (bytes > 0) {
        why[bytes] = 0;
    } else {
        std::snprintf(why, cap, "error %lu", static_cast<unsigned long>(error));
    }
}

}  // namespace

void console_write(console_stream stream, const char* text, size_t size) {
    HANDLE handle = handle_of(stream);
    if (is_console(handle)) {
        std::fflush(file_of(stream));
        write_console(handle, text, size);
        return;
    }
    // A program without a console (padmapw) has no C runtime stream of its
    // standard handle: its text goes straight to the handle it set, its log.
    int number = _fileno(file_of(stream));
    if (number < 0 || reinterpret_cast<HANDLE>(_get_osfhandle(number)) != handle) {
        write_file_text(handle, text, size);
        return;
    }
    std::fwrite(text, 1, size, file_of(stream));
}

void console_flush(console_stream stream) {
    std::fflush(file_of(stream));
}

console_answer console_write_direct(const char* text, size_t size, char* why, size_t why_cap) {
    HANDLE handle = handle_of(console_out);
    console_answer answer =
        is_console(handle) ? write_console(handle, text, size) : write_file_text(handle, text, size);
    if (answer == console_failed && why_cap > 0) describe(GetLastError(), why, why_cap);
    return answer;
}
