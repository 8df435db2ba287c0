#include <windows.h>

#include <string>
#include <vector>

#include "layout/run.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> args;
    std::vector<const char16_t*> pointers;
    for (int i = 0; i < argc; ++i) {
        std::u16string arg;
        for (const wchar_t* p = argv[i]; *p; ++p) arg += (char16_t)*p;
        args.push_back(arg);
    }
    for (const std::u16string& arg : args) pointers.push_back(arg.c_str());
    return layout_main(argc, pointers.data());
}
