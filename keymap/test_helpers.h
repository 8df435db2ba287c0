#ifndef PADMAP_KEYMAP_TEST_HELPERS_H
#define PADMAP_KEYMAP_TEST_HELPERS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "keymap/config.h"
#include "keymap/key_table.h"

// Puts the key table and the configured id back to their start-up state.
inline void fresh_keymap()
{
    reset_key_table();
    reset_config();
}

struct captured_load {
    bool ok;
    std::string out;
};

inline captured_load load_bytes_captured(const std::string& bytes)
{
    testing::internal::CaptureStdout();
    bool ok = load_config_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    fflush(stdout);
    return {ok, testing::internal::GetCapturedStdout()};
}

inline std::string hex4(unsigned value)
{
    char text[8];
    snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

// The text as UTF-16LE bytes, without a byte-order mark.
inline std::string utf16le_bytes(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// Every entry that differs from a fresh table, as "name[=code] out:mod ...;"
// listing positions up to the last one that is not zero.
inline std::string describe_table_changes()
{
    std::string initial_names[key_count];
    uint16_t initial_codes[key_count];
    key_entry saved[key_count];
    for (int i = 0; i < key_count; i++)
        saved[i] = key_table[i];
    reset_key_table();
    for (int i = 0; i < key_count; i++) {
        initial_names[i] = key_table[i].name;
        initial_codes[i] = key_table[i].scan_code;
    }
    for (int i = 0; i < key_count; i++)
        key_table[i] = saved[i];

    std::string text;
    for (int i = 0; i < key_count; i++) {
        const key_entry& entry = key_table[i];
        int used = 0;
        for (int k = 0; k < key_outputs; k++) {
            if (entry.outputs[k] != 0 || entry.modifiers[k] != 0)
                used = k + 1;
        }
        bool renamed = initial_names[i] != entry.name;
        bool recoded = initial_codes[i] != entry.scan_code;
        if (used == 0 && !renamed && !recoded)
            continue;
        text += entry.name;
        if (recoded)
            text += "=" + hex4(entry.scan_code);
        for (int k = 0; k < used; k++)
            text += " " + hex4(entry.outputs[k]) + ":" + hex4(entry.modifiers[k]).substr(2);
        text += ";";
    }
    return text;
}

#endif
