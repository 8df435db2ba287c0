#ifndef PADMAP_TESTDRV_COMMAND_LINE_H
#define PADMAP_TESTDRV_COMMAND_LINE_H

#include <cstddef>
#include <string>

#include <windows.h>

// The test programs' way of starting another program under Wine.

// Room for the longest command line Windows takes.
constexpr size_t command_line_units = 32768;

// Appends one argument to line, quoted the way the C runtime splits a command
// line: backslashes double only before a quote. Returns false when line (cap
// units, null-ended) cannot hold it.
bool append_quoted(wchar_t* line, size_t cap, const wchar_t* arg);

// Starts argv[0] with argv[1..argc-1], standard input from NUL and standard
// output and error into the file stdout_path (made anew), with the given
// CreateProcessW flags. Returns false when the file or the process cannot be
// made; otherwise started->hProcess is the caller's to close (the thread's
// handle is closed already).
bool start_with_output(int argc, const wchar_t* const* argv, const wchar_t* stdout_path, DWORD creation_flags,
                       PROCESS_INFORMATION* started);

// Writes bytes as the whole content of the file at path (made anew).
// Returns false when the file cannot be made or written.
bool write_file(const wchar_t* path, const std::string& bytes);

// The limited counterpart of this program's token when it runs elevated
// (Wine's programs do, as an administrator's do with UAC off), to start a
// program without administrator rights; null when this program is not
// elevated. The caller closes a token it gets.
HANDLE limited_token();

// True once the process has ended.
bool exited(HANDLE process);

#endif
