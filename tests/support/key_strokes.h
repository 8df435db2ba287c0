#ifndef PADMAP_TESTS_SUPPORT_KEY_STROKES_H
#define PADMAP_TESTS_SUPPORT_KEY_STROKES_H

#include <cstdio>
#include <ostream>

#include "keymap/key_stroke.h"

// Test support: key strokes compared and printed by GoogleTest.

inline bool operator==(const key_stroke& a, const key_stroke& b) {
    return a.make_code == b.make_code && a.key_state == b.key_state && a.extra_info == b.extra_info;
}

inline void PrintTo(const key_stroke& key, std::ostream* out) {
    char text[40];
    std::snprintf(text, sizeof text, "{%04x %04x %08x}", static_cast<unsigned>(key.make_code),
                  static_cast<unsigned>(key.key_state), static_cast<unsigned>(key.extra_info));
    *out << text;
}

#endif
