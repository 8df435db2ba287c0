// Notices posted from several threads while the loop takes them: each is
// taken once, each thread's in the order posted, and the event is set while
// any waits.
#include "app/notices.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim/sim.h"

namespace {

TEST(Notices, PostedFromThreadsAreTakenOnceInOrder) {
    sim_reset();
    notice_queue queue;
    ASSERT_TRUE(open_notice_queue(&queue));
    // One thread posts the even kinds, the other the odd ones, each in a
    // cycle: each thread's order shows in what is taken.
    constexpr int each = 5000;
    constexpr int kinds = notice_kinds / 2 * 2;
    std::vector<std::thread> threads;
    for (int parity = 0; parity < 2; ++parity) {
        threads.emplace_back([&queue, parity] {
            for (int i = 0; i < each;) {
                if (post_notice(&queue, static_cast<loop_notice>((2 * i + parity) % kinds))) ++i;
                std::this_thread::yield();
            }
        });
    }
    int next[2] = {0, 0};
    while (next[0] + next[1] < 2 * each && !testing::Test::HasFailure()) {
        loop_notice taken[notice_queue_size];
        int count = take_notices(&queue, taken, notice_queue_size);
        for (int i = 0; i < count; ++i) {
            int parity = taken[i] % 2;
            EXPECT_EQ((2 * next[parity] + parity) % kinds, static_cast<int>(taken[i]));
            ++next[parity];
        }
    }
    for (std::thread& thread : threads) thread.join();
    loop_notice rest[notice_queue_size];
    EXPECT_EQ(0, take_notices(&queue, rest, notice_queue_size));
    close_notice_queue(&queue);
    EXPECT_FALSE(post_notice(&queue, notice_lock));
    EXPECT_EQ(0, sim_open_handles());
}

}  // namespace
