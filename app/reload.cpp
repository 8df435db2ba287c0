#include "app/reload.h"

#include "keymap/file.h"

std::u16string folder_of(const char16_t* path) {
    std::u16string text(path);
    size_t last = text.find_last_of(u"/\\");
    if (last == std::u16string::npos) return text.size() >= 2 && text[1] == u':' ? text.substr(0, 2) : u".";
    // The separator stays where it is the folder: the root, or a drive's root.
    if (last == 0 || text[last - 1] == u':') return text.substr(0, last + 1);
    return text.substr(0, last);
}

std::u16string name_in_folder(const char16_t* path) {
    std::u16string text(path);
    size_t last = text.find_last_of(u"/\\");
    if (last != std::u16string::npos) return text.substr(last + 1);
    return text.size() >= 2 && text[1] == u':' ? text.substr(2) : text;
}

bool read_whole_file(const char16_t* path, std::vector<uint8_t>* bytes) {
    bytes->clear();
    config_file* file = open_config_file(path);
    if (file == nullptr) return false;
    uint8_t chunk[4096];
    bool ok = true;
    for (;;) {
        long got = read_config_file(file, chunk, sizeof chunk);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (bytes->size() + static_cast<size_t>(got) > reload_max_bytes) {
            ok = false;
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    close_config_file(file);
    return ok;
}

uint64_t content_signature(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    // A readable file never has the unreadable file's number.
    return hash == unreadable_signature ? 1 : hash;
}
