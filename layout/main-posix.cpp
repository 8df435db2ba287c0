#include "keymap/text.h"
#include "layout/run.h"

int main(int argc, char** argv) {
    utf16_args args = args_from_utf8(argc, argv);
    return layout_main(argc, args.argv.data());
}
