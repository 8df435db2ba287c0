#include "driver/control_codes.h"

#include <gtest/gtest.h>

TEST(ControlCodes, EachRequestHasTheDriversCode) {
    struct row {
        const char* name;
        uint32_t code;
        uint32_t expected;
    };
    const row rows[] = {
        {"set filter", ctl_set_filter, 0x222010},
        {"set event", ctl_set_event, 0x222040},
        {"write", ctl_write, 0x222080},
        {"read", ctl_read, 0x222100},
        {"get hardware id", ctl_get_hardware_id, 0x222200},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.expected, r.code);
    }
}
