#include "app/program_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the test's starter saw, shared with the worker's thread.
struct started {
    std::mutex lock;
    std::condition_variable opened;
    bool gate_open = true;
    std::vector<std::u16string> commands;
    std::string reports;
};

started* seen = nullptr;

// Starts nothing: notes the command once the gate is open; every command
// that begins with 'x' fails.
bool note_start(item_kind, const char16_t* command, const char16_t* folder, char* why, size_t cap) {
    std::unique_lock<std::mutex> hold(seen->lock);
    seen->opened.wait(hold, [] { return seen->gate_open; });
    seen->commands.push_back(std::u16string(command) + u"@" + folder);
    std::snprintf(why, cap, "no such program");
    return command[0] != u'x';
}

void note_report(void*, const char* text, size_t size) {
    std::lock_guard<std::mutex> hold(seen->lock);
    seen->reports.append(text, size);
}

// The order points into command: it lives as long as the call.
program_order job(const std::u16string& command) {
    static char shown[2][8] = {"run x", "run a"};
    return program_order{item_run, command.c_str(), command.size(), u"dir", 3, shown[command[0] == u'a']};
}

TEST(ProgramWorker, StartsEveryProgramHandedInOrderAndSaysWhichFailed) {
    started state;
    seen = &state;
    program_worker* worker = start_program_worker(note_start, note_report, nullptr);
    ASSERT_NE(nullptr, worker);
    std::vector<std::u16string> expected;
    for (int round = 0; round < 200; ++round) {
        std::u16string command = std::u16string(1, round % 7 == 0 ? u'x' : u'a') + std::u16string(1, u'0' + round % 10);
        // The queue may be full for a moment: the loop never waits, so a
        // refused hand-over is the loop's to say; this test hands it again.
        while (!hand_program(worker, job(command))) {
            std::this_thread::yield();
        }
        expected.push_back(command + u"@dir");
    }
    EXPECT_TRUE(finish_program_worker(worker, 10000));
    EXPECT_EQ(expected, state.commands);
    std::string reports;
    for (int round = 0; round < 200; round += 7) reports += "run x did not start: no such program\n";
    EXPECT_EQ(reports, state.reports);
}

TEST(ProgramWorker, AHandOverWakesAWorkerThatSleeps) {
    started state;
    seen = &state;
    program_worker* worker = start_program_worker(note_start, note_report, nullptr);
    ASSERT_NE(nullptr, worker);
    // Long enough for it to stop looking for more and sleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::u16string command = u"a";
    ASSERT_TRUE(hand_program(worker, job(command)));
    bool done = false;
    for (int i = 0; i < 2000 && !done; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> hold(state.lock);
        done = state.commands.size() == 1;
    }
    EXPECT_TRUE(done);
    EXPECT_TRUE(finish_program_worker(worker, 10000));
}

TEST(ProgramWorker, RefusesAHandOverBeyondTheQueueAndNeverWaits) {
    started state;
    seen = &state;
    state.gate_open = false;
    program_worker* worker = start_program_worker(note_start, note_report, nullptr);
    ASSERT_NE(nullptr, worker);
    int taken = 0;
    // One in the starter's hands at most, and a full queue behind it.
    std::u16string command = u"a";
    for (int i = 0; i < program_queue_size + 2; ++i) taken += hand_program(worker, job(command)) ? 1 : 0;
    EXPECT_GE(taken, program_queue_size);
    EXPECT_LE(taken, program_queue_size + 1);
    {
        std::lock_guard<std::mutex> hold(state.lock);
        state.gate_open = true;
    }
    state.opened.notify_all();
    EXPECT_TRUE(finish_program_worker(worker, 10000));
    EXPECT_EQ(static_cast<size_t>(taken), state.commands.size());
    EXPECT_FALSE(hand_program(nullptr, job(command)));
}

}  // namespace
