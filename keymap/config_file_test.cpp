#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "keymap/config.h"
#include "keymap/file.h"
#include "keymap/test_helpers.h"

namespace {

namespace fs = std::filesystem;

// A directory of its own for each test, removed afterwards.
class ConfigFile : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("padmap-keymap-" + std::string(test->name()) + "-" + std::to_string(stamp));
        fs::create_directories(dir);
        fresh_keymap();
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    fs::path write(const std::string& name, const std::string& bytes)
    {
        fs::path path = dir / fs::u8path(name);
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static captured_load load(const fs::path& path)
    {
        testing::internal::CaptureStdout();
        bool ok = load_config(path.u16string().c_str());
        fflush(stdout);
        return {ok, testing::internal::GetCapturedStdout()};
    }
};

TEST_F(ConfigFile, LoadsAFile)
{
    captured_load result = load(write("layout.txt", "HID\\VID_1234\r\nCaps Backspace\r\nF1 C-C\r\n"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("Caps->Backspace\nF1->C-C\n", result.out);
    EXPECT_EQ(u"HID\\VID_1234", std::u16string(configured_hardware_id));
    EXPECT_EQ("Caps 000e:00;F1 002e:02;", describe_table_changes());
}

TEST_F(ConfigFile, PathsThatAreNoReadableFile)
{
    struct row {
        const char* what;
        fs::path path;
    };
    fs::create_directory(dir / "sub");
    const row rows[] = {
        {"missing", dir / "missing.txt"},
        {"directory", dir / "sub"},
        {"non-ASCII name", dir / fs::u8path("cl\xC3\xA9 \xE2\x82\xAC.txt")},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        captured_load result = load(r.path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ("failed to open " + r.path.u8string() + "\n", result.out);
        EXPECT_EQ("", describe_table_changes());
    }
}

TEST_F(ConfigFile, NoHardwareIdClosesAndFails)
{
    captured_load result = load(write("blank.txt", "  \r\n\r\n"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ("first line in config file must be hardware id\n", result.out);
}

TEST_F(ConfigFile, ZeroByteFarFromTheStartMakesItUtf16)
{
    // The zero byte lies beyond the first buffer. Read as UTF-8 the file
    // would map A; as UTF-16LE its first word runs past 500 units.
    std::string text = "hw\nA B\n" + std::string(20000, ' ') + std::string(1, '\0');
    captured_load result = load(write("late-zero.txt", text));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ("first line in config file must be hardware id\n", result.out);
    EXPECT_EQ("", describe_table_changes());
}

TEST_F(ConfigFile, LongUtf8FileWithoutZeroByte)
{
    std::string text = "hw\n";
    std::string echo;
    for (int i = 0; i < 2000; i++) {
        text += "A B,S-C\n";
        echo += "A->B\nA->S-C\n";
    }
    captured_load result = load(write("long.txt", text + "D E\n"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(echo + "D->E\n", result.out);
}

TEST_F(ConfigFile, OpenRefusesWhatIsNoRegularFile)
{
    EXPECT_EQ(nullptr, open_config_file(dir.u16string().c_str()));
    EXPECT_EQ(nullptr, open_config_file((dir / "none").u16string().c_str()));
    EXPECT_EQ(nullptr, open_config_file(u""));
    config_file* file = open_config_file(write("x.txt", "abc").u16string().c_str());
    ASSERT_NE(nullptr, file);
    uint8_t bytes[8];
    EXPECT_EQ(3, read_config_file(file, bytes, sizeof bytes));
    EXPECT_EQ(0, read_config_file(file, bytes, sizeof bytes));
    close_config_file(file);
}

} // namespace
