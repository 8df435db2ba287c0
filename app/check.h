#ifndef PADMAP_APP_CHECK_H
#define PADMAP_APP_CHECK_H

// padmap --check CONFIG: one line per finding as "FILE:LINE: message", then
// "FILE: hardware id ID, N keys mapped, M findings". Returns 0 without
// findings, 1 with, 2 (after "failed to open FILE") when the file cannot be
// read. No banner, no driver.
int run_check(const char16_t* path);

#endif
