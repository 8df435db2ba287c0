#include <string>
#include <vector>

#include "keymap/text.h"
#include "layout/run.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    std::vector<const char16_t*> pointers;
    for (int i = 0; i < argc; ++i) args.push_back(utf16_text(argv[i]));
    for (const std::u16string& arg : args) pointers.push_back(arg.c_str());
    return layout_main(argc, pointers.data());
}
