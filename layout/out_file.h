#ifndef PADMAP_LAYOUT_OUT_FILE_H
#define PADMAP_LAYOUT_OUT_FILE_H

#include <string>

// Writes bytes as the whole content of the file at path (NUL-terminated
// UTF-16), creating or replacing it. Returns false when the file cannot be
// opened or fully written, after removing whatever part of it was written.
bool write_output_file(const char16_t* path, const std::string& bytes);

// True when both paths name one existing file, however they are spelt
// (`pad.cfg` and `./pad.cfg`, a link, another case on Windows).
bool same_existing_file(const char16_t* a, const char16_t* b);

#endif
