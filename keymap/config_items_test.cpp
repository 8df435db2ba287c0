#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "keymap/config.h"
#include "keymap/text.h"

namespace {

// What the file's F1 entry sends: key codes in hex, texts and programs as
// their kind and their units as UTF-8 (LF and tab as \n and \t).
std::string f1_outputs(const std::string& bytes) {
    std::unique_ptr<config> loaded(new config);
    read_config_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), loaded.get(), nullptr);
    const key_entry& entry = loaded->keys.entries[find_key_by_name(&loaded->keys, "F1")];
    std::string text;
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        const config_item* item = item_of(loaded->items, entry.outputs[i], entry.modifiers[i]);
        if (item == nullptr) {
            char code[8];
            std::snprintf(code, sizeof code, "%04x", entry.outputs[i]);
            text += std::string(i > 0 ? " " : "") + code;
            continue;
        }
        std::u16string units(item_units(loaded->items, *item), static_cast<size_t>(item->units));
        std::string shown;
        for (char c : utf8_text(units.c_str())) shown += c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
        const char* kind[] = {"text", "run", "open"};
        text += std::string(i > 0 ? " " : "") + kind[item->kind] + "[" + shown + "]";
    }
    return text;
}

std::string utf16le(const std::string& utf8) {
    std::u16string units = utf16_text(utf8.c_str());
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : units) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

struct item_case {
    const char* name;
    std::string file;
    const char* outputs;
};

const item_case cases[] = {
    {"escapes, and commas and spaces inside the quotes", "ID\nF1 \"a, b \\\"c\\\" \\\\ \\n\\t\" # note\n",
     "text[a, b \"c\" \\ \\n\\t]"},
    {"a text among keys keeps its place", "ID\nF1 C-A,\"x\",Enter\n", "001e text[x] 001c"},
    {"UTF-8 text, non-ASCII and beyond the BMP", "ID\nF1 \"caf\xC3\xA9 \xF0\x9F\x91\x8B\"\n",
     "text[caf\xC3\xA9 \xF0\x9F\x91\x8B]"},
    {"UTF-16 text the same", utf16le("ID\nF1 \"caf\xC3\xA9 \xF0\x9F\x91\x8B\"\n"),
     "text[caf\xC3\xA9 \xF0\x9F\x91\x8B]"},
    {"a malformed text leaves its place unset", "ID\nF1 A,\"a\\q\",\"\",\"b\"c,C-\"d\",\"open\n", "001e"},
    {"run: the rest of the line, a ' #' inside quotes kept", "ID\nF1 run  app.exe \"a #1\"  # why\n",
     "run[app.exe \"a #1\"]"},
    {"open; a program replaces what a line before gave the key", "ID\nF1 A\nF1 open https://x/\n", "open[https://x/]"},
    {"a key line after a program replaces it", "ID\nF1 run a\nF1 B\n", "0030"},
    {"run with nothing, or among other outputs, maps nothing", "ID\nF1 run # none\nF1 A,run b\n", "001e"},
};

TEST(ConfigItems, TextsAndProgramsAsTheFileWritesThem) {
    for (const item_case& c : cases) EXPECT_EQ(c.outputs, f1_outputs(c.file)) << c.name;
}

TEST(ConfigItems, RefusedProgramsLeaveTheKeyToTheNextScope) {
    std::string text = "ID\nF1 A\nhold F1 run x\nwhen App.exe\nF1 open y\nF2 \"t\"\n";
    std::unique_ptr<config> loaded(new config);
    read_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), loaded.get(), nullptr);
    std::string said = refuse_programs(loaded.get());
    EXPECT_EQ(0, loaded->holds[0].count);
    EXPECT_EQ(0, loaded->sections[0].keys.entries[find_key_by_name(&loaded->keys, "F1")].outputs[0]);
    EXPECT_NE(0, loaded->sections[0].keys.entries[find_key_by_name(&loaded->keys, "F2")].outputs[0]);
    EXPECT_EQ(0u, said.find("line 3: 'run x' is refused"));
    EXPECT_NE(std::string::npos, said.find("\nline 5: 'open y' is refused"));
}

}  // namespace
