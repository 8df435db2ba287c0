#include "app/log_writer.h"

#include <gtest/gtest.h>

#include "tests/support/gated_console.h"

#include <chrono>
#include <cstdio>
#include <mutex>
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
// without ever waiting: the console opens again only after the last piece is
// handed over, so a loop that waited for it would never get there. What fits
// comes out first, then one notice standing for every piece left out, then
// what came once the console had taken the buffer's text.
TEST(LogWriter, AHeldConsoleNeverHoldsTheLoopAndLosesOnlyWholeLinesWithANotice) {
    gated_console console;
    log_writer* writer = start_log_writer(write_gated, &console);
    ASSERT_NE(writer, nullptr);
    set_open(&console, false);
    std::string first = numbered_line(-1);
    log_text(writer, first.data(), first.size());
    ASSERT_TRUE(wait_until_blocked(&console));

    const std::string line = numbered_line(0);
    const size_t fits = log_buffer_bytes / line.size();
    const size_t handed = fits + 5000;
    {
        watchdog guard("handing text to the writer of a held console");
        for (size_t n = 0; n < handed; ++n) log_text(writer, line.data(), line.size());
    }

    set_open(&console, true);
    // The buffer has room again only once the console has taken what it
    // held; the notice stands behind all of that, so it comes out last.
    ASSERT_TRUE(wait_for_text(&console, [](const std::string& text) {
        return text.find("left out while the console was blocked") != std::string::npos;
    }));
    std::string later = numbered_line(1);
    log_text(writer, later.data(), later.size());
    EXPECT_TRUE(finish_log_writer(writer, -1));

    const size_t kept_lines = (log_buffer_bytes - first.size()) / line.size();
    std::string expected = first;
    for (size_t n = 0; n < kept_lines; ++n) expected += line;
    expected += notice(handed - kept_lines);
    expected += later;
    EXPECT_EQ(first_difference(expected, written(&console)), "");
}

// The console gets the text in pieces no larger than log_piece_bytes, so that
// room comes back as the console takes text.
TEST(LogWriter, HandsTheConsoleBoundedPieces) {
    struct pieces {
        std::mutex lock;
        size_t largest = 0;
        size_t total = 0;
    } seen;
    auto sink = [](void* context, const char*, size_t size) {
        pieces* p = static_cast<pieces*>(context);
        std::lock_guard<std::mutex> hold(p->lock);
        p->largest = size > p->largest ? size : p->largest;
        p->total += size;
        return log_sink_answer{log_sink_took, ""};
    };
    gated_console console;
    log_writer* writer = start_log_writer(sink, &seen);
    ASSERT_NE(writer, nullptr);
    const std::string block(log_buffer_bytes / 4, 'x');
    for (int n = 0; n < 3; ++n) log_text(writer, block.data(), block.size());
    EXPECT_TRUE(finish_log_writer(writer, -1));
    EXPECT_EQ(seen.total, 3 * block.size());
    EXPECT_LE(seen.largest, log_piece_bytes);
}

// A console that never takes text again: the end of the run waits its limit
// and goes on. The writer writes nothing after the piece in hand, and ends on
// its own once the console takes that piece: nothing of the run comes after
// what the process writes next. The console outlives the writer's thread.
TEST(LogWriter, FinishingGivesUpOnAConsoleThatTakesNothing) {
    static gated_console console;
    log_writer* writer = start_log_writer(write_gated, &console);
    ASSERT_NE(writer, nullptr);
    set_open(&console, false);
    std::string line = numbered_line(7);
    log_text(writer, line.data(), line.size());
    ASSERT_TRUE(wait_until_blocked(&console));
    std::string left = numbered_line(8);
    log_text(writer, left.data(), left.size());
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(finish_log_writer(writer, 100));
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, gated_console_guard) << "the end of the run hung on the console";
    set_open(&console, true);
    EXPECT_TRUE(wait_for_text(&console, [&line](const std::string& text) { return text == line; }));
}

// Busy a number of times, then takes text until offered the line it fails on.
struct scripted_console {
    std::mutex lock;
    int busy_left;
    std::string fail_on, text;
    int offers_after_failing;
};

log_sink_answer write_scripted(void* context, const char* text, size_t size) {
    scripted_console* console = static_cast<scripted_console*>(context);
    std::lock_guard<std::mutex> hold(console->lock);
    console->offers_after_failing += console->fail_on.empty();
    if (console->busy_left-- > 0) return log_sink_answer{log_sink_busy, ""};
    if (std::string(text, size).find(console->fail_on) == std::string::npos) {
        console->text.append(text, size);
        return log_sink_answer{log_sink_took, ""};
    }
    console->fail_on.clear();
    return log_sink_answer{log_sink_failed, "Broken pipe"};
}

// A busy console gets everything once it takes text; one that failed for good
// is offered nothing more, stderr says so once, and nothing waits for it.
TEST(LogWriter, AConsoleBusyForAWhileOrFailingForGood) {
    struct row {
        const char* name;
        int busy, fail_at, lines;  // fail_at: the line the console fails on, -1 for none
    } const rows[] = {
        {"busy, then takes all", 30, -1, 1000}, {"fails at once", 0, 0, 40000}, {"busy, then fails", 5, 600, 40000}};
    const std::string notice = "padmap: the log can no longer be written (Broken pipe); padmap goes on without it\n";
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        scripted_console console = {{}, r.busy, r.fail_at < 0 ? "no such line" : numbered_line(r.fail_at), "", 0};
        testing::internal::CaptureStderr();
        log_writer* writer = start_log_writer(write_scripted, &console);
        std::string expected;
        watchdog guard("the writer of a busy or failed console");
        for (int n = 0; n < r.lines; ++n) {
            std::string line = numbered_line(n);
            if (r.fail_at < 0 || n < r.fail_at) expected += line;
            log_text(writer, line.data(), line.size());
        }
        EXPECT_EQ(finish_log_writer(writer, -1), r.fail_at < 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.fail_at < 0 ? "" : notice);
        EXPECT_EQ(console.offers_after_failing, 0);
        EXPECT_EQ(r.fail_at < 0 ? expected : expected.substr(0, console.text.size()), console.text);
    }
}

}  // namespace
