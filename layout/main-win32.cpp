#include "keymap/text.h"
#include "layout/run.h"

int wmain(int argc, wchar_t** argv) {
    utf16_args args = args_from_wide(argc, argv);
    return layout_main(argc, args.argv.data());
}
