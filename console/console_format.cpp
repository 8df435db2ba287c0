#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/console.h"

void console_print(console_stream stream, const char* text) {
    console_write(stream, text, std::strlen(text));
}

void console_printf(console_stream stream, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
        console_write(stream, text, static_cast<size_t>(length));
    } else if (length >= 0) {
        std::vector<char> longer(static_cast<size_t>(length) + 1);
        std::vsnprintf(longer.data(), longer.size(), format, again);
        console_write(stream, longer.data(), static_cast<size_t>(length));
    }
    va_end(again);
}
