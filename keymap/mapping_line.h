#ifndef PADMAP_KEYMAP_MAPPING_LINE_H
#define PADMAP_KEYMAP_MAPPING_LINE_H

// Applies one configuration line (8-bit text, NUL-terminated, may end in LF)
// to the key table: "KEY OUT,OUT,..." where KEY is a key name or "#" with at
// least four hex digits and each OUT is optional prefixes S- C- A- W- rS- rC-
// rA- rW- (in that order) and a key name. Prints "KEY->OUT\n" for every output
// it stores. Lines it cannot use change nothing and print nothing. The text
// is cut up in place.
void apply_mapping_line(char* line);

#endif
