#ifndef PADMAP_TESTS_SUPPORT_SIM_FIXTURE_H
#define PADMAP_TESTS_SUPPORT_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <initializer_list>

#include "driver/device_set.h"
#include "sim/sim.h"

// A test on a freshly reset simulated driver. The set that open() made is
// closed at the end, and nothing may be left open or allocated after that.
class sim_fixture : public ::testing::Test {
protected:
    void SetUp() override { sim_reset(); }
    void TearDown() override {
        close_device_set(set);
        EXPECT_EQ(0, sim_open_handles());
        EXPECT_EQ(0, sim_live_blocks());
    }

    // Declares the devices, opens the set and, when capture is set, captures
    // every key on its keyboards. Returns false when no set came back.
    bool open(std::initializer_list<int> devices, bool capture = true) {
        for (int device : devices) sim_declare_device(device, "id");
        set = open_device_set();
        if (capture) set_keyboard_filter(set, 0xFFFF);
        return set != nullptr;
    }

    device_set* set = nullptr;
};

#endif
