#ifndef PADMAP_LAYOUT_SVG_LAYOUT_H
#define PADMAP_LAYOUT_SVG_LAYOUT_H

#include <string>
#include <vector>

#include "layout/picture.h"

// Replaces svg with a complete SVG document showing the keyboard of picture,
// read against the configuration's table: a title with the hardware id and
// the configuration's file name, every key with its label and what it sends,
// and below the keyboard a colour key, the full text of every sequence that
// had to be shortened on its key (numbered as on the keys) and the keys that
// have no place. hardware_id and file_name are UTF-8 and may hold any text;
// they are escaped. The document uses only the generic font families.
void draw_layout(const key_table& table, const layout_picture& picture, const std::string& hardware_id,
                 const std::string& file_name, std::string& svg);

// The same for several keyboards, one below the other, each under its
// heading (the colour key once, after the first).
void draw_layouts(const std::vector<layout_view>& views, const std::string& hardware_id, const std::string& file_name,
                  std::string& svg);

#endif
