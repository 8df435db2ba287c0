#include "app/startup.h"

bool startup_on(int, const char16_t* const*, std::string* why) {
    *why = "starting at logon is a Windows matter";
    return false;
}

bool startup_off(std::string* why) {
    *why = "starting at logon is a Windows matter";
    return false;
}

bool startup_is_on() {
    return false;
}
