#ifndef PADMAP_LAYOUT_OUT_FILE_H
#define PADMAP_LAYOUT_OUT_FILE_H

#include <string>

// Writes bytes as the whole content of the file at path (NUL-terminated
// UTF-16), creating or replacing it. Returns false when the file cannot be
// opened or fully written, after removing whatever part of it was written.
bool write_output_file(const char16_t* path, const std::string& bytes);

#endif
