#include <windows.h>

#include <string>
#include <vector>

#include "keymap/text.h"
#include "replay/replay_main.h"

// Windows hands the arguments over as UTF-16; the replay works in UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> utf8(argc);
    std::vector<char*> args(argc + 1, nullptr);
    for (int i = 0; i < argc; ++i) {
        std::u16string wide(argv[i], argv[i] + std::char_traits<wchar_t>::length(argv[i]));
        utf8[i] = utf8_text(wide.c_str());
        args[i] = &utf8[i][0];
    }
    return replay_main(argc, args.data());
}
