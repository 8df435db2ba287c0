#ifndef PADMAP_TESTS_SUPPORT_KEYMAP_HELPERS_H
#define PADMAP_TESTS_SUPPORT_KEYMAP_HELPERS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "keymap/config.h"
#include "keymap/key_table.h"

const char no_id_message[] = "first line in config file must be hardware id\n";

// The configuration the keymap tests load into: large, so not on the stack.
inline config& test_config() {
    static config loaded;
    return loaded;
}

// Puts the test's configuration back to no id and a fresh key table.
inline void fresh_keymap() {
    reset_config(&test_config());
}

struct captured_load {
    bool ok;
    std::string out;
};

template <typename Load>
captured_load capture_load(Load load) {
    testing::internal::CaptureStdout();
    bool ok = load();
    fflush(stdout);
    return {ok, testing::internal::GetCapturedStdout()};
}

inline captured_load load_bytes_captured(const std::string& bytes) {
    return capture_load([&] {
        return load_config_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &test_config());
    });
}

inline std::string hex4(unsigned value) {
    char text[8];
    snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

inline std::string repeat(const std::string& text, int times, const std::string& between = "") {
    std::string out;
    for (int i = 0; i < times; ++i) out += (i > 0 ? between : "") + text;
    return out;
}

// The text as UTF-16 bytes, without a byte-order mark.
inline std::string utf16_bytes(const std::u16string& text, bool big_endian = false) {
    std::string bytes;
    for (char16_t unit : text) {
        char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

// Every entry that differs from a fresh table, as "name[=code] out:mod ...;"
// listing positions up to the last one that is not zero.
inline std::string describe_table_changes(const key_table& table = test_config().keys) {
    const key_entry* now = table.entries;
    const key_entry* fresh = fresh_key_table().entries;
    std::string text;
    for (int i = 0; i < key_count; ++i) {
        std::string outputs;
        for (int k = 0; k < key_outputs; ++k)
            outputs += " " + hex4(now[i].outputs[k]) + ":" + hex4(now[i].modifiers[k]).substr(2);
        while (outputs.size() >= 8 && outputs.compare(outputs.size() - 8, 8, " 0000:00") == 0)
            outputs.resize(outputs.size() - 8);
        bool recoded = now[i].scan_code != fresh[i].scan_code;
        if (recoded || !outputs.empty())
            text += now[i].name + (recoded ? "=" + hex4(now[i].scan_code) : "") + outputs + ";";
    }
    return text;
}

// One load on a fresh keymap and the result, echo, configured id and (unless
// null) table changes it must give.
struct id_case {
    const char* what;
    std::string bytes;
    bool ok;
    std::u16string id;
    std::string echo;
    const char* changes = nullptr;
};

template <typename Load>
void expect_id_cases(const std::vector<id_case>& cases, Load load) {
    for (const id_case& row : cases) {
        SCOPED_TRACE(row.what);
        fresh_keymap();
        captured_load result = load(row.bytes);
        EXPECT_EQ(row.ok, result.ok);
        EXPECT_EQ(row.echo, result.out);
        EXPECT_EQ(row.id, std::u16string(test_config().configured_hardware_id));
        if (row.changes != nullptr) {
            EXPECT_EQ(row.changes, describe_table_changes());
        }
    }
}

inline void expect_id_cases(const std::vector<id_case>& cases) {
    expect_id_cases(cases, load_bytes_captured);
}

#endif
