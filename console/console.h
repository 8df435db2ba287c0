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

// For the log writer's own thread: writes all of the text to standard output
// before it returns, waiting as long as the output is blocked. Returns false
// when the output refuses the text for good (closed, broken). Whatever was
// written with console_write must have been flushed first.
bool console_write_direct(const char* text, size_t size);

#endif
