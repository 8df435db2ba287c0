#ifndef PADMAP_APP_CHECK_H
#define PADMAP_APP_CHECK_H

// padmap --check CONFIG...: for each file in turn, one line per finding as
// "FILE:LINE: message", then "FILE: hardware id ID, N keys mapped, M
// findings"; a file whose hardware id an earlier file names has a finding on
// its id's line. Returns 2 when a file cannot be read ("failed to open FILE"
// in its place), otherwise 1 with findings, 0 without. No banner, no driver.
int run_check(int count, const char16_t* const* paths);

#endif
