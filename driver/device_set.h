#ifndef PADMAP_DRIVER_DEVICE_SET_H
#define PADMAP_DRIVER_DEVICE_SET_H

#include <cstdint>

#include "driver/os.h"
#include "keymap/key_stroke.h"

// Device numbers: 1-10 keyboards (keyboard_count), 11-20 mice, 0 none.
constexpr int device_count = 20;

struct device_slot {
    os_handle device;       // os_invalid_handle when the open failed
    os_handle input_event;  // os_null_handle when the device was not opened
};

struct device_set {
    device_slot slots[device_count];
    os_handle wake_event;  // ends a wait early when set; see wake_device_wait
    int opened;            // devices whose open succeeded
    int in_use;            // devices another program holds
    int denied;            // devices whose open was refused
};

// What wait_for_device returns when the wait was woken rather than a device
// signalled.
constexpr int device_woken = -1;

// Opens the driver's 20 device objects from the process heap. Returns null when
// the heap, an event or a set-event request fails (after releasing everything
// it took). A set in which no device opened is still returned.
device_set* open_device_set();

// Closes every opened device and event and frees the set; null is ignored.
void close_device_set(device_set* set);

// Sends the capture filter to keyboard slots 0-9 whose device field is not zero;
// results are ignored; null is ignored.
void set_keyboard_filter(device_set* set, uint16_t filter);

// Blocks until a device's input event is signalled. Returns its number 1-20,
// 21 for a wait result that matches no collected event, device_woken once the
// set has been woken (from then on every wait returns at once), 0 on failure,
// with no device events, or for a null set.
int wait_for_device(device_set* set);

// Makes the current or next wait_for_device return device_woken. Safe from
// any thread while the set is open; null is ignored.
void wake_device_wait(device_set* set);

// True when device 1-20 of the set opened.
bool device_opened(const device_set* set, int device);

// Sends the capture filter to keyboard 1-10 alone. Returns false, without a
// request, for a null set, a device that is no keyboard or whose slot holds
// no opened device; otherwise whether the driver took it.
bool set_device_filter(device_set* set, int device, uint16_t filter);

// How a wait for input ended.
enum input_end {
    input_device,  // device 1-20 has input (21: a result that matches no device)
    input_woken,   // wake_device_wait was called
    input_other,   // one of the caller's other handles is signalled
    input_quiet,   // nothing happened within the time limit
    input_over,    // the simulated system's script has ended: nothing will ever come
    input_killed,  // the simulated process is killed: end at once, releasing nothing
    input_failed,  // the wait failed (os_last_error says why), or there is nothing to wait for
};

struct input_wait {
    input_end end;
    int device;  // input_device: its number
    int other;   // input_other: its position among the caller's handles
};

// Waits, up to timeout_ms (os_wait_infinite: no limit), for any device's
// input event, the wake event or one of the caller's other handles (at most
// input_max_others). When several are signalled at once, device input comes
// first (the lowest device), then the wake, then the others in order. Fails
// for a null set or one with no device events.
constexpr int input_max_others = 16;
input_wait wait_for_input(device_set* set, const os_handle* others, int other_count, uint32_t timeout_ms);

#endif
