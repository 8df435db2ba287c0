#ifndef PADMAP_LAYOUT_RUN_H
#define PADMAP_LAYOUT_RUN_H

#include <string>

// padmap-layout CONFIG [OUT.svg]. Arguments are NUL-terminated UTF-16,
// argv[0] the program. Loads CONFIG as padmap does (with its messages) and
// writes the picture to OUT.svg, by default the path of CONFIG with its
// extension replaced by ".svg". Prints "wrote %s\n" with the output path and
// returns 0; returns 1 after the loader's message when CONFIG cannot be
// loaded, when OUT.svg is CONFIG itself, or when the file cannot be written
// (nothing is left behind then); 2 after the usage for a wrong command line.
// --help (also -h, /?) and --version print and return 0.
int layout_main(int argc, const char16_t* const* argv);

// The default output path for a configuration path: the last dot of the file
// name and what follows become ".svg" ("a/pad.cfg" gives "a/pad.svg"); a name
// without a dot past its first character gains ".svg"; a name that already
// ends in ".svg" gains another, so the configuration is never the output.
std::u16string default_output_path(const std::u16string& config);

#endif
