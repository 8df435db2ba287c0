#include "driver/control_codes.h"

#include <gtest/gtest.h>

TEST(ControlCodes, EachRequestHasTheDriversCode) {
    EXPECT_EQ(0x222010u, ctl_set_filter);
    EXPECT_EQ(0x222040u, ctl_set_event);
    EXPECT_EQ(0x222080u, ctl_write);
    EXPECT_EQ(0x222100u, ctl_read);
    EXPECT_EQ(0x222200u, ctl_get_hardware_id);
}
