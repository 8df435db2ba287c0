#ifndef PADMAP_TESTDRV_TEXT_RUNS_H
#define PADMAP_TESTDRV_TEXT_RUNS_H

#include <string>

#include <windows.h>

#include "testdrv/control.h"

// What the runners of the text check and the text benchmark share: a
// desktop of their own for the text window and padmap, and reading files.

// Makes a desktop of the runner's own and joins it: once a window was made
// on a desktop, Wine counts that desktop's own window as the one in front
// (the harness makes one for each run too). Returns false when it cannot.
bool join_desktop();

// Starts the program (a command line) on the runner's desktop, its standard
// output and error in output_path, with the token (null: the runner's own).
// Returns false when it cannot; otherwise *process is the caller's to close.
bool start_on_desktop(const std::wstring& command, const wchar_t* output_path, DWORD flags, HANDLE* process,
                      HANDLE token = nullptr);

// The file's content ("" when it cannot be read).
std::string read_file(const wchar_t* path);

// Far beyond what a step takes; only a hang reaches it.
constexpr DWORD text_step_limit_ms = 15000;

#endif
