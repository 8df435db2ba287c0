#ifndef PADMAP_LAYOUT_XML_TEXT_H
#define PADMAP_LAYOUT_XML_TEXT_H

#include <string>

// Appends UTF-8 text so that it is safe inside XML character data and inside
// attribute values in either kind of quotes: & < > " ' become entity
// references; code points XML does not allow (controls other than tab, LF and
// CR; U+FFFE, U+FFFF) and ill-formed bytes become U+FFFD.
void append_xml_text(const std::string& text, std::string& out);

#endif
