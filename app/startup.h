#ifndef PADMAP_APP_STARTUP_H
#define PADMAP_APP_STARTUP_H

#include <string>

// Start at logon: the per-user Run value (value "padmap" of
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run) that starts padmapw.exe, beside the
// running program, with the configurations given. app/startup-win32.cpp
// binds it to the registry; app/startup-posix.cpp has no logon to start at.

// Writes the value for count configuration paths (absolute, or made so
// against the current folder). Returns false with the system's words in why.
bool startup_on(int count, const char16_t* const* configs, std::string* why);

// Removes the value; true when it is gone (or was never there).
bool startup_off(std::string* why);

// True when the value is there.
bool startup_is_on();

#endif
