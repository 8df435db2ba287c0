#include <windows.h>

#include <vector>

#include "app/entry.h"

// Windows hands the arguments over as UTF-16 already. Console output is UTF-8
// text, so the console is told to show it as such.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<char16_t> path;
    const char16_t* args[2] = {u"padmap", nullptr};
    if (argc >= 2) {
        for (const wchar_t* c = argv[1]; *c; ++c) path.push_back(static_cast<char16_t>(*c));
        path.push_back(0);
        args[1] = path.data();
    }
    return padmap_main(argc < 2 ? 1 : 2, args);
}
