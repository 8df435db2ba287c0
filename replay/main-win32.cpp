#include <string>
#include <vector>

#include "keymap/text.h"
#include "replay/replay_main.h"

// Windows hands the arguments over as UTF-16; the replay works in UTF-8.
int wmain(int argc, wchar_t** argv) {
    utf16_args wide = args_from_wide(argc, argv);
    std::vector<std::string> utf8;
    for (const std::u16string& arg : wide.text) utf8.push_back(utf8_text(arg.c_str()));
    std::vector<char*> args;
    for (std::string& arg : utf8) args.push_back(&arg[0]);
    args.push_back(nullptr);
    return replay_main(argc, args.data());
}
