#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "keymap/config.h"
#include "keymap/file.h"
#include "tests/support/keymap_helpers.h"
#include "tests/support/own_files.h"

namespace {

namespace fs = std::filesystem;

const fs::path dir = fs::u8path(own_folder_path());

fs::path write(const std::string& name, const std::string& bytes) {
    fs::path path = dir / fs::u8path("padmap-keymap-" + name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

captured_load load(const fs::path& path) {
    fresh_keymap();
    return capture_load([&] { return load_config(path.u16string().c_str(), &test_config()); });
}

TEST(ConfigFile, LoadsWhatTheFileHolds) {
    const std::string long_echo = repeat("A->B\nA->S-C\n", 2000) + "D->E\n";
    expect_id_cases(
        {
            {"CR LF lines", "HID\\VID_1234\r\nCaps Backspace\r\nF1 C-C\r\n", true, u"HID\\VID_1234",
             "Caps->Backspace\nF1->C-C\n", "Caps 000e:00;F1 002e:02;"},
            {"no hardware id", "  \r\n\r\n", false, u"", no_id_message, ""},
            // Read as UTF-8 the file would map A; as UTF-16LE its first word
            // runs past 500 units. The zero byte lies beyond the first buffer.
            {"zero byte far from the start makes it UTF-16", "hw\nA B\n" + std::string(20000, ' ') + '\0', false, u"",
             no_id_message, ""},
            {"long UTF-8 file without a zero byte", "hw\n" + repeat("A B,S-C\n", 2000) + "D E\n", true, u"hw",
             long_echo, "A 0030:00 002e:01;D 0012:00;"},
        },
        [](const std::string& bytes) {
            fs::path path = write("layout.txt", bytes);
            captured_load result = load(path);
            fs::remove(path);
            return result;
        });
}

TEST(ConfigFile, PathsThatAreNoReadableFile) {
    const fs::path paths[] = {dir / "padmap-missing.txt", dir, dir / fs::u8path("cl\xC3\xA9 \xE2\x82\xAC.txt")};
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path);
        captured_load result = load(path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ("failed to open " + path.u8string() + "\n", result.out);
        EXPECT_EQ("", describe_table_changes());
        EXPECT_EQ(nullptr, open_config_file(path.u16string().c_str()));
    }
    EXPECT_EQ(nullptr, open_config_file(u""));
    // A lone surrogate must not open the file named with U+FFFD in its place.
    fs::path near = write("a\xEF\xBF\xBD", "abc");
    EXPECT_EQ(nullptr, open_config_file((dir / "padmap-keymap-a").u16string().append(u"\xD800").c_str()));
    fs::remove(near);
}

TEST(ConfigFile, ReadsAFileToItsEnd) {
    fs::path path = write("x.txt", "abc");
    config_file* file = open_config_file(path.u16string().c_str());
    ASSERT_NE(nullptr, file);
    uint8_t bytes[8];
    EXPECT_EQ(3, read_config_file(file, bytes, sizeof bytes));
    EXPECT_EQ(0, read_config_file(file, bytes, sizeof bytes));
    close_config_file(file);
    fs::remove(path);
}

}  // namespace
