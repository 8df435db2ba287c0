#ifndef PADMAP_TESTDRV_CONTROL_H
#define PADMAP_TESTDRV_CONTROL_H

#include <cstddef>
#include <cstdint>

#include "testdrv/testctl.h"

// The test side's requests to the test driver's control device. Each returns
// false when the request fails (the driver refused it or is not running).

// The keyboards the runners declare: a pad their configurations name (its
// id as UTF-8 for the files, as UTF-16 for the driver), and a main keyboard
// that no file names.
constexpr char testdrv_pad_id_text[] = "HID\\VID_1A86&PID_E026&MI_00";
constexpr char16_t testdrv_pad_id[] = u"HID\\VID_1A86&PID_E026&MI_00";
constexpr char16_t testdrv_main_id[] = u"ACPI\\VEN_PNP&DEV_0303";

struct testctl_link {
    void* handle;  // the opened control device
};

// Opens the control device. Returns false when the driver is not running.
bool testctl_open(testctl_link* link);
void testctl_close(testctl_link* link);

bool testctl_reset(testctl_link* link);

// Declares device 1-20. id is UTF-16 of units length; null means the device
// has no hardware id (its request fails). Ids longer than TESTCTL_ID_UNITS are
// cut there, which no 1000-byte answer can tell apart.
bool testctl_declare_device(testctl_link* link, int device, const char16_t* id, size_t units);

// Declares the pad (testdrv_pad_id) as keyboard 1 and the main keyboard
// (testdrv_main_id) as keyboard 2.
bool testctl_declare_pad_and_main(testctl_link* link);

// Gives a declared device the id (same form as above) at once; see
// TESTCTL_CHANGE_ID.
bool testctl_change_id(testctl_link* link, int device, const char16_t* id, size_t units);

// Types one key stroke on a keyboard, as its 12-byte wire record.
bool testctl_push_key(testctl_link* link, int device, uint16_t make_code, uint16_t key_state, uint32_t extra_info);

// The same, giving in *typed_at the time the driver took the stroke (see
// testctl.h).
bool testctl_push_key_timed(testctl_link* link, int device, uint16_t make_code, uint16_t key_state, uint32_t extra_info,
                            int64_t* typed_at);

bool testctl_get_status(testctl_link* link, testctl_status* status);

// Takes up to max delivered records into out. Returns how many, -1 on failure.
int testctl_take_delivered(testctl_link* link, testctl_delivered* out, int max);

// Takes up to max request records into out, oldest first. Returns how many,
// -1 on failure.
int testctl_take_requests(testctl_link* link, testctl_request* out, int max);

bool testctl_end(testctl_link* link);

// The number-th write request from the client's next read of a record takes
// at most bytes bytes, or fails when refuse is set; see TESTCTL_SHORT_WRITE.
bool testctl_short_write(testctl_link* link, uint32_t number, uint32_t bytes, bool refuse);

// Types count strokes on keyboard device, press and release by turns (the
// release is the press with the up bit set), fed by the driver as the client
// reads; see TESTCTL_BURST.
bool testctl_burst_key(testctl_link* link, int device, uint32_t count, uint16_t make_code, uint16_t key_state);

// Waits until the client (a process handle) has set keyboard 1's filter
// and registered its input event: null, or what went wrong (the client
// exited first, the driver stopped answering, limit_ms passed).
const char* testctl_wait_for_capture(testctl_link* link, void* client, uint32_t limit_ms);

// The 12-byte keyboard wire record of a key stroke.
void testctl_key_record(uint8_t* record, uint16_t make_code, uint16_t key_state, uint32_t extra_info);

#endif
