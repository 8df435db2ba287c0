#include "driver/device_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/control_codes.h"
#include "driver/sim.h"

namespace {

class DeviceSet : public ::testing::Test {
protected:
    void SetUp() override { sim_reset(); }
};

void declare(const std::vector<int>& devices) {
    for (int device : devices) sim_declare_device(device, "id");
}

std::vector<const sim_request*> requests_with(uint32_t code) {
    std::vector<const sim_request*> found;
    for (int i = 0; i < sim_request_count(); ++i) {
        if (sim_requests()[i].code == code) found.push_back(&sim_requests()[i]);
    }
    return found;
}

const uint8_t captured_mouse[mouse_record_size] = {};

}  // namespace

TEST_F(DeviceSet, WithoutTheDriverEverySlotIsInvalidAndTheWaitFails) {
    device_set* set = open_device_set();
    ASSERT_NE(nullptr, set);
    for (int index = 0; index < device_count; ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(os_invalid_handle, set->slots[index].device);
        EXPECT_EQ(os_null_handle, set->slots[index].input_event);
    }
    EXPECT_EQ(0, sim_step_calls(sim_step_event));
    EXPECT_EQ(0, wait_for_device(set));
    close_device_set(set);
    EXPECT_EQ(0, sim_open_handles());
    EXPECT_EQ(0, sim_live_blocks());
}

TEST_F(DeviceSet, DeviceNamesCarryTheTwoDigitIndex) {
    device_set* set = open_device_set();
    ASSERT_EQ(device_count, sim_open_count());
    struct row {
        int index;
        const char* name;
    };
    const row rows[] = {
        {0, "\\\\.\\interception00"},
        {7, "\\\\.\\interception07"},
        {19, "\\\\.\\interception19"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.index);
        EXPECT_STREQ(r.name, sim_opened_name(r.index));
    }
    close_device_set(set);
}

TEST_F(DeviceSet, EachOpenedDeviceGetsItsOwnEventAsAnEightByteField) {
    declare({1, 2, 12});
    device_set* set = open_device_set();
    ASSERT_NE(nullptr, set);
    std::vector<const sim_request*> registered = requests_with(ctl_set_event);
    ASSERT_EQ(3u, registered.size());
    const int devices[] = {1, 2, 12};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(devices[i]);
        const device_slot& slot = set->slots[devices[i] - 1];
        EXPECT_NE(os_invalid_handle, slot.device);
        EXPECT_NE(os_null_handle, slot.input_event);
        EXPECT_EQ(devices[i], registered[i]->device);
        EXPECT_EQ(8u, registered[i]->input_size);
        uint32_t value = static_cast<uint32_t>(slot.input_event);
        const uint8_t expected[8] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                     static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24), 0, 0, 0, 0};
        for (int b = 0; b < 8; ++b) EXPECT_EQ(expected[b], registered[i]->input[b]) << "byte " << b;
    }
    EXPECT_EQ(os_null_handle, set->slots[2].input_event);
    EXPECT_EQ(6, sim_open_handles());
    close_device_set(set);
    EXPECT_EQ(0, sim_open_handles());
    EXPECT_EQ(0, sim_live_blocks());
}

TEST_F(DeviceSet, OnlyKeyboardSlotsAreFilteredEvenWhereTheOpenFailed) {
    struct row {
        const char* name;
        std::vector<int> declared;
        std::vector<int> expected_devices;  // 0: the request went to a failed slot
    };
    const row rows[] = {
        {"every device", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"no driver", {}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"one keyboard and a mouse", {4, 15}, {0, 0, 0, 4, 0, 0, 0, 0, 0, 0}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim_reset();
        declare(r.declared);
        device_set* set = open_device_set();
        set_keyboard_filter(set, 0xABCD);
        std::vector<const sim_request*> filters = requests_with(ctl_set_filter);
        ASSERT_EQ(r.expected_devices.size(), filters.size());
        for (size_t i = 0; i < filters.size(); ++i) {
            EXPECT_EQ(r.expected_devices[i], filters[i]->device);
            EXPECT_EQ(2u, filters[i]->input_size);
            EXPECT_EQ(0xCD, filters[i]->input[0]);
            EXPECT_EQ(0xAB, filters[i]->input[1]);
        }
        for (int device : r.declared) EXPECT_EQ(device <= keyboard_count ? 0xABCD : 0, sim_filter(device)) << device;
        close_device_set(set);
    }
}

TEST_F(DeviceSet, SlotsHoldingZeroGetNoFilter) {
    device_set set = {};
    set_keyboard_filter(&set, 3);
    EXPECT_EQ(0, sim_request_count());
}

TEST_F(DeviceSet, WaitNamesTheDeviceBehindTheSignalledPosition) {
    declare({1, 2, 12});
    device_set* set = open_device_set();
    ASSERT_NE(nullptr, set);
    set_keyboard_filter(set, 0xFFFF);

    ASSERT_TRUE(sim_queue_mouse_record(12, captured_mouse));
    EXPECT_EQ(12, wait_for_device(set));
    stroke received;
    EXPECT_EQ(1, receive_stroke(set, 12, &received));

    sim_type(2, key_stroke{0x1E, 0, 0});
    EXPECT_EQ(2, wait_for_device(set));
    EXPECT_EQ(1, receive_stroke(set, 2, &received));

    EXPECT_EQ(0, wait_for_device(set));
    close_device_set(set);
}

TEST_F(DeviceSet, WaitGivesZeroWhenItCannotName) {
    EXPECT_EQ(0, wait_for_device(nullptr));

    declare({1});
    device_set* set = open_device_set();
    set_keyboard_filter(set, 0xFFFF);
    sim_type(1, key_stroke{0x1E, 0, 0});
    sim_fail_at(sim_step_wait, 1);
    EXPECT_EQ(0, wait_for_device(set));
    EXPECT_EQ(1, wait_for_device(set));
    close_device_set(set);
}

TEST_F(DeviceSet, AFailedOpenStepReleasesEverythingItTook) {
    struct row {
        const char* name;
        sim_step step;
        int occurrence;
        bool set_returned;
    };
    const row rows[] = {
        {"no heap for the set", sim_step_alloc, 1, false},
        {"first event", sim_step_event, 1, false},
        {"middle event", sim_step_event, 2, false},
        {"last event", sim_step_event, 4, false},
        {"first set-event", sim_step_set_event, 1, false},
        {"third set-event", sim_step_set_event, 3, false},
        {"last set-event", sim_step_set_event, 4, false},
        {"one device open", sim_step_open, 2, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim_reset();
        declare({1, 2, 11, 20});
        sim_fail_at(r.step, r.occurrence);
        device_set* set = open_device_set();
        EXPECT_EQ(r.set_returned, set != nullptr);
        if (set != nullptr) {
            EXPECT_EQ(os_invalid_handle, set->slots[1].device);
            EXPECT_EQ(os_null_handle, set->slots[1].input_event);
            EXPECT_EQ(6, sim_open_handles());
        }
        close_device_set(set);
        EXPECT_EQ(0, sim_open_handles());
        EXPECT_EQ(0, sim_live_blocks());
    }
}

TEST_F(DeviceSet, ANullSetIsIgnored) {
    close_device_set(nullptr);
    set_keyboard_filter(nullptr, 0xFFFF);
    EXPECT_EQ(0, sim_request_count());
    EXPECT_EQ(0, sim_live_blocks());
}
