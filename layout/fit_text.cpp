#include "layout/fit_text.h"

namespace {

const char ellipsis[] = "\xE2\x80\xA6";

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Byte offset just past the first n code points of text from start.
size_t skip_chars(const std::string& text, size_t start, int n) {
    size_t at = start;
    while (at < text.size() && n > 0) {
        ++at;
        while (at < text.size() && is_continuation((unsigned char)text[at])) ++at;
        --n;
    }
    return at;
}

void cut_to(std::string& line, int chars) {
    line.resize(skip_chars(line, 0, chars));
}

}  // namespace

int text_length(const std::string& text) {
    int n = 0;
    for (unsigned char c : text)
        if (!is_continuation(c)) ++n;
    return n;
}

bool fit_text(const std::string& text, int per_line, int max_lines, std::vector<std::string>& lines) {
    lines.clear();
    std::string line;
    int line_len = 0;
    size_t at = 0;
    bool glued = false;  // the next piece continues a word broken after '+'
    while (at < text.size()) {
        if (text[at] == ' ') {
            glued = false;
            ++at;
            continue;
        }
        size_t end = text.find_first_of(" +", at);
        if (end == std::string::npos)
            end = text.size();
        else if (text[end] == '+')
            ++end;
        std::string piece = text.substr(at, end - at);
        at = end;
        int piece_len = text_length(piece);
        int sep = line_len > 0 && !glued ? 1 : 0;
        glued = piece.back() == '+';
        if (line_len > 0 && line_len + sep + piece_len <= per_line) {
            if (sep) line += ' ';
            line += piece;
            line_len += sep + piece_len;
            continue;
        }
        if (line_len > 0) {
            lines.push_back(line);
            line.clear();
            line_len = 0;
        }
        size_t from = 0;
        while (piece_len > per_line) {
            size_t to = skip_chars(piece, from, per_line);
            lines.push_back(piece.substr(from, to - from));
            from = to;
            piece_len -= per_line;
        }
        line = piece.substr(from);
        line_len = piece_len;
    }
    if (line_len > 0) lines.push_back(line);

    if (max_lines <= 0 || (int)lines.size() <= max_lines) return false;
    lines.resize(max_lines);
    std::string& last = lines.back();
    if (text_length(last) > per_line - 1) cut_to(last, per_line - 1);
    last += ellipsis;
    return true;
}
