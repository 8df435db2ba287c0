#include "driver/device_set.h"

#include <gtest/gtest.h>

#include <vector>

#include "driver/control_codes.h"
#include "tests/support/sim_fixture.h"

namespace {

using DeviceSet = sim_fixture;

std::vector<const sim_request*> requests_with(uint32_t code) {
    std::vector<const sim_request*> found;
    for (int i = 0; i < sim_request_count(); ++i) {
        if (sim_requests()[i].code == code) found.push_back(&sim_requests()[i]);
    }
    return found;
}

}  // namespace

TEST_F(DeviceSet, WithoutTheDriverEverySlotIsInvalidAndTheWaitFails) {
    ASSERT_TRUE(open({}, false));
    for (int index = 0; index < device_count; ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(os_invalid_handle, set->slots[index].device);
        EXPECT_EQ(os_null_handle, set->slots[index].input_event);
    }
    EXPECT_EQ(1, sim_step_calls(sim_step_event)) << "only the wake event";
    EXPECT_EQ(0, wait_for_device(set));
    // Every device name carries its two-digit index.
    ASSERT_EQ(device_count, sim_open_count());
    EXPECT_STREQ("\\\\.\\interception00", sim_opened_name(0));
    EXPECT_STREQ("\\\\.\\interception07", sim_opened_name(7));
    EXPECT_STREQ("\\\\.\\interception19", sim_opened_name(19));
}

TEST_F(DeviceSet, EachOpenedDeviceGetsItsOwnEventAsAnEightByteField) {
    const int devices[] = {1, 2, 12};
    ASSERT_TRUE(open({1, 2, 12}, false));
    std::vector<const sim_request*> registered = requests_with(ctl_set_event);
    ASSERT_EQ(3u, registered.size());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(devices[i]);
        const device_slot& slot = set->slots[devices[i] - 1];
        EXPECT_NE(os_invalid_handle, slot.device);
        EXPECT_NE(os_null_handle, slot.input_event);
        EXPECT_EQ(devices[i], registered[i]->device);
        EXPECT_EQ(8u, registered[i]->input_size);
        uint64_t field = 0;  // little-endian, the event's 32 bits zero-extended
        for (int b = 7; b >= 0; --b) field = field << 8 | registered[i]->input[b];
        EXPECT_EQ(static_cast<uint32_t>(slot.input_event), field);
    }
    EXPECT_EQ(os_null_handle, set->slots[2].input_event);
    EXPECT_EQ(7, sim_open_handles()) << "three devices, their events and the wake event";
}

TEST_F(DeviceSet, OnlyKeyboardSlotsAreFilteredEvenWhereTheOpenFailed) {
    ASSERT_TRUE(open({4, 15}, false));
    set_keyboard_filter(set, 0xABCD);
    std::vector<const sim_request*> filters = requests_with(ctl_set_filter);
    ASSERT_EQ(10u, filters.size());
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(i == 3 ? 4 : 0, filters[i]->device);  // 0: the request went to a failed slot
        EXPECT_EQ(2u, filters[i]->input_size);
        EXPECT_EQ(0xCD, filters[i]->input[0]);
        EXPECT_EQ(0xAB, filters[i]->input[1]);
    }
    EXPECT_EQ(0xABCD, sim_filter(4));
    EXPECT_EQ(0, sim_filter(15));
}

TEST_F(DeviceSet, NullSetsAndSlotsHoldingZeroAreIgnored) {
    device_set zero_slots = {};
    set_keyboard_filter(&zero_slots, 3);
    close_device_set(nullptr);
    set_keyboard_filter(nullptr, 0xFFFF);
    EXPECT_EQ(0, wait_for_device(nullptr));
    EXPECT_EQ(0, sim_request_count());
}

TEST_F(DeviceSet, WaitNamesTheDeviceBehindTheSignalledPositionOrGivesZero) {
    ASSERT_TRUE(open({1, 2, 12}));
    ASSERT_TRUE(sim_queue_mouse_record(12, std::vector<uint8_t>(mouse_record_size).data()));
    EXPECT_EQ(12, wait_for_device(set));
    stroke received;
    EXPECT_EQ(1, receive_stroke(set, 12, &received));

    sim_type(2, key_stroke{0x1E, 0, 0});
    sim_fail_at(sim_step_wait, sim_step_calls(sim_step_wait) + 1);
    EXPECT_EQ(0, wait_for_device(set));
    EXPECT_EQ(2, wait_for_device(set));
    EXPECT_EQ(1, receive_stroke(set, 2, &received));

    EXPECT_EQ(0, wait_for_device(set));
}

// A stop request wakes the wait; input that came before it is read first, and
// once woken every later wait returns at once without typing anything more.
TEST_F(DeviceSet, AWokenWaitReturnsWokenAfterPendingInput) {
    ASSERT_TRUE(open({1, 2}));
    sim_type(2, key_stroke{0x1E, 0, 0});
    sim_type(1, key_stroke{0x30, 0, 0});
    EXPECT_EQ(2, wait_for_device(set));
    wake_device_wait(set);
    EXPECT_EQ(2, wait_for_device(set)) << "the captured stroke is still there";
    stroke received;
    EXPECT_EQ(1, receive_stroke(set, 2, &received));
    EXPECT_EQ(device_woken, wait_for_device(set));
    EXPECT_EQ(device_woken, wait_for_device(set));
    EXPECT_EQ(0, receive_stroke(set, 1, &received)) << "a stroke was typed after the wake";
    wake_device_wait(nullptr);
}

TEST_F(DeviceSet, AFailedOpenStepReleasesEverythingItTook) {
    struct row {
        const char* name;
        sim_step step;
        int occurrence;
        bool set_returned;
    };
    // clang-format off
    const row rows[] = {
        {"no heap for the set", sim_step_alloc, 1, false},
        {"wake event", sim_step_event, 1, false},
        {"first device event", sim_step_event, 2, false},
        {"middle device event", sim_step_event, 3, false},
        {"last device event", sim_step_event, 5, false},
        {"first set-event", sim_step_set_event, 1, false},
        {"third set-event", sim_step_set_event, 3, false},
        {"last set-event", sim_step_set_event, 4, false},
        {"one device open", sim_step_open, 2, true},
    };
    // clang-format on
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        sim_reset();
        sim_fail_at(r.step, r.occurrence);
        EXPECT_EQ(r.set_returned, open({1, 2, 11, 20}, false));
        if (set != nullptr) {
            EXPECT_EQ(os_invalid_handle, set->slots[1].device);
            EXPECT_EQ(os_null_handle, set->slots[1].input_event);
            EXPECT_EQ(7, sim_open_handles());
        }
        close_device_set(set);
        set = nullptr;
        EXPECT_EQ(0, sim_open_handles());
        EXPECT_EQ(0, sim_live_blocks());
    }
}
