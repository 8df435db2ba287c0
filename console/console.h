#ifndef PADMAP_CONSOLE_CONSOLE_H
#define PADMAP_CONSOLE_CONSOLE_H

#include <cstddef>

// Text for the user, always UTF-8 in the program. Bound per platform
// (console-posix.cpp, console-win32.cpp). On Windows, when the stream is a
// console, the text goes to it as UTF-16 through the console's wide API, so
// every character shows whatever code page the console has (it is never
// changed); when it is a file or a pipe the UTF-8 bytes go as they are, with
// LF written as CR LF. Elsewhere the bytes go as they are.

enum console_stream { console_out, console_err };

// Buffered like stdio, for what is printed outside the key loop.
void console_write(console_stream stream, const char* text, size_t size);
void console_print(console_stream stream, const char* text);
// printf-style; the result may be of any length.
void console_printf(console_stream stream, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void console_flush(console_stream stream);

enum console_answer {
    console_took,    // all of the text was written
    console_busy,    // none of it was: the output takes nothing now, and says so rather than wait
    console_failed,  // the output takes nothing ever again (a closed pipe, a full disk)
};

// For the log writer's own thread: writes all of the text to standard output
// before it returns, waiting as long as the output is blocked (a console
// with a selection, a full pipe). An output made not to wait (a non-blocking
// descriptor, a pipe in no-wait mode) answers busy when it takes none of the
// text; once part of it is out the rest waits until it is taken, so that no
// line is cut. On a failure the system's words for it go into why
// (NUL-terminated UTF-8 of at most why_cap bytes). Whatever was written with
// console_write must have been flushed first.
console_answer console_write_direct(const char* text, size_t size, char* why, size_t why_cap);

#endif
