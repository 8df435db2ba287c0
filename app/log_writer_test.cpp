#include "app/log_writer.h"

#include <gtest/gtest.h>

#include "app/gated_console.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

std::string numbered_line(int n) {
    char line[64];
    std::snprintf(line, sizeof line, "DOWN pressed key=Caps 003a -> 000e: 000e down- %06d\n", n);
    return line;
}

std::string notice(unsigned long lines) {
    char text[128];
    size_t size = left_out_notice(lines, text, sizeof text);
    return std::string(text, size);
}

TEST(LogWriter, TheNoticeSaysHowManyLines) {
    EXPECT_EQ(notice(1), "... 1 log line left out while the console was blocked\n");
    EXPECT_EQ(notice(4096), "... 4096 log lines left out while the console was blocked\n");
}

// The text handed over comes out whole and in order, however the pieces and
// the writes interleave. All of it fits the buffer, so none may be left out
// however far the writer falls behind.
TEST(LogWriter, WritesEveryPieceInOrder) {
    gated_console console;
    log_writer* writer = start_log_writer(write_gated, &console);
    ASSERT_NE(writer, nullptr);
    std::string expected;
    for (int n = 0; n < 10000; ++n) {
        std::string piece = numbered_line(n);
        if (n % 7 == 0) piece += numbered_line(-n);
        expected += piece;
        log_text(writer, piece.data(), piece.size());
    }
    ASSERT_LT(expected.size(), log_buffer_bytes);
    EXPECT_TRUE(finish_log_writer(writer, 10000));
    EXPECT_EQ(console.text, expected);
}

// While the console is held the loop hands over more than the buffer takes
// without ever waiting. What fits comes out first, then one notice standing
// for every piece left out, then what came after the console took text again.
TEST(LogWriter, AHeldConsoleNeverHoldsTheLoopAndLosesOnlyWholeLinesWithANotice) {
    gated_console console;
    log_writer* writer = start_log_writer(write_gated, &console);
    ASSERT_NE(writer, nullptr);
    set_open(&console, false);
    std::string first = numbered_line(-1);
    log_text(writer, first.data(), first.size());
    wait_until_blocked(&console);

    const std::string line = numbered_line(0);
    const size_t fits = log_buffer_bytes / line.size();
    const size_t handed = fits + 5000;
    auto started = std::chrono::steady_clock::now();
    for (size_t n = 0; n < handed; ++n) log_text(writer, line.data(), line.size());
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(5)) << "the loop waited for the console";

    set_open(&console, true);
    // The writer makes room only as the console takes text.
    while (written(&console).size() <= first.size()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::string later = numbered_line(1);
    log_text(writer, later.data(), later.size());
    EXPECT_TRUE(finish_log_writer(writer, 10000));

    size_t kept = console.text.size() - first.size() - notice(handed - fits).size() - later.size();
    ASSERT_EQ(kept % line.size(), 0u) << "a line was cut";
    size_t kept_lines = kept / line.size();
    std::string expected = first;
    for (size_t n = 0; n < kept_lines; ++n) expected += line;
    expected += notice(handed - kept_lines);
    expected += later;
    EXPECT_EQ(console.text, expected);
    EXPECT_EQ(kept_lines, (log_buffer_bytes - first.size()) / line.size());
}

// A console that never takes text again: the end of the run waits its limit
// and goes on; the writer finishes on its own if the console ever wakes up.
TEST(LogWriter, FinishingGivesUpOnAConsoleThatTakesNothing) {
    gated_console console;
    log_writer* writer = start_log_writer(write_gated, &console);
    ASSERT_NE(writer, nullptr);
    set_open(&console, false);
    std::string line = numbered_line(7);
    log_text(writer, line.data(), line.size());
    wait_until_blocked(&console);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(finish_log_writer(writer, 100));
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::seconds(5));
    set_open(&console, true);
    for (int i = 0; i < 5000 && written(&console) != line; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(written(&console), line);
}

}  // namespace
