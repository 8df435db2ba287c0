#ifndef PADMAP_LAYOUT_FIT_TEXT_H
#define PADMAP_LAYOUT_FIT_TEXT_H

#include <string>
#include <vector>

// Breaks UTF-8 text into lines of at most per_line characters (code points,
// per_line >= 2), breaking at a space or after a '+' where it can and anywhere
// else only when a part alone is longer than a line; spaces at a break are
// dropped. With
// max_lines > 0 and more lines needed, keeps max_lines lines, ends the last one
// with an ellipsis (still within per_line) and returns true; otherwise returns
// false. Empty text gives no lines.
bool fit_text(const std::string& text, int per_line, int max_lines, std::vector<std::string>& lines);

// Number of code points in UTF-8 text (continuation bytes are not counted).
int text_length(const std::string& text);

#endif
