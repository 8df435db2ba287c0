// The least a client of the keyboard filter driver can do with each stroke of
// one keyboard: wait for its event, read the stroke, write it back. Nothing
// that handles strokes can take fewer requests, so its speed is the floor
// padmap's is measured against (scripts/bench-driver). With "id" it also asks
// the keyboard's hardware id after each read, as a client must that checks
// every stroke's keyboard: the floor of such a client.
//
//   padmap-testdrv-floor DEVICE [id]
//
// Opens keyboard DEVICE (1-10) alone, captures every stroke of it and passes
// each on unchanged, until a read finds nothing (the driver's session has
// ended). Exit status 0; 1 when the device cannot be opened or set up; 2 for
// bad usage.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "driver/control_codes.h"
#include "keymap/hardware_id.h"

namespace {

constexpr DWORD key_record_bytes = 12;

bool control(HANDLE device, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
    return DeviceIoControl(device, code, const_cast<void*>(in), in_size, out, out_size, returned, nullptr) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    int device = argc == 2 || argc == 3 ? std::atoi(argv[1]) : 0;
    bool ask_id = argc == 3 && std::strcmp(argv[2], "id") == 0;
    if (device < 1 || device > 10 || (argc == 3 && !ask_id)) {
        std::fputs("usage: padmap-testdrv-floor DEVICE [id]\n", stderr);
        return 2;
    }
    // As padmap does, so that the two compete with the rest of the system alike.
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\interception%02d", device - 1);
    HANDLE keyboard = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE input = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (keyboard == INVALID_HANDLE_VALUE || input == nullptr) return 1;
    // The driver takes the handle in the low four bytes of an eight-byte field.
    uint8_t field[8] = {};
    uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(input));
    std::memcpy(field, &low, sizeof low);
    const uint16_t every_stroke = 0xFFFF;
    DWORD returned = 0;
    if (!control(keyboard, ctl_set_event, field, sizeof field, nullptr, 0, &returned) ||
        !control(keyboard, ctl_set_filter, &every_stroke, sizeof every_stroke, nullptr, 0, &returned)) {
        return 1;
    }
    uint8_t record[key_record_bytes];
    static uint8_t id[hardware_id_bytes];
    while (WaitForSingleObject(input, INFINITE) == WAIT_OBJECT_0) {
        if (!control(keyboard, ctl_read, nullptr, 0, record, sizeof record, &returned) || returned == 0) break;
        DWORD id_bytes = 0;
        if (ask_id) control(keyboard, ctl_get_hardware_id, nullptr, 0, id, sizeof id, &id_bytes);
        control(keyboard, ctl_write, record, returned, nullptr, 0, &returned);
    }
    CloseHandle(keyboard);
    CloseHandle(input);
    return 0;
}
