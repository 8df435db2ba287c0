#include <cstring>
#include <vector>

#include "app/entry.h"
#include "keymap/text.h"

// Arguments arrive as UTF-8; padmap takes UTF-16. Only the first is used, so
// only the first is converted.
int main(int argc, char** argv) {
    std::vector<char16_t> path;
    const char16_t* args[2] = {u"padmap", nullptr};
    if (argc >= 2) {
        path.resize(std::strlen(argv[1]) + 1);
        utf8_to_utf16(argv[1], path.data(), path.size());
        args[1] = path.data();
    }
    return padmap_main(argc < 2 ? 1 : 2, args);
}
