#include <cstring>
#include <string>
#include <vector>

#include "keymap/text.h"
#include "layout/run.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    std::vector<const char16_t*> pointers;
    for (int i = 0; i < argc; ++i) {
        std::u16string arg(std::strlen(argv[i]) + 1, u'\0');
        arg.resize(utf8_to_utf16(argv[i], &arg[0], arg.size()));
        args.push_back(arg);
    }
    for (const std::u16string& arg : args) pointers.push_back(arg.c_str());
    return layout_main(argc, pointers.data());
}
