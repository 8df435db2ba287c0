#include "driver/device_set.h"

#include <cstdio>

#include "driver/control_codes.h"

namespace {

bool is_open(os_handle handle) {
    return handle != os_invalid_handle && handle != os_null_handle;
}

// The driver takes a 64-bit handle field: the event's value in the low 4 bytes,
// little-endian, zero-extended. Kernel handle values fit in 32 bits.
bool register_event(os_handle device, os_handle event) {
    uint8_t field[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    uint32_t value = static_cast<uint32_t>(event);
    for (int i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(value >> (8 * i));
    return os_device_control(device, ctl_set_event, field, sizeof field, nullptr, 0, nullptr);
}

}  // namespace

device_set* open_device_set() {
    device_set* set = static_cast<device_set*>(os_heap_alloc(sizeof(device_set), true));
    if (set == nullptr) return nullptr;
    set->wake_event = os_create_event();
    if (set->wake_event == os_null_handle) {
        os_heap_free(set);
        return nullptr;
    }
    for (int index = 0; index < device_count; ++index) {
        device_slot* slot = &set->slots[index];
        char name[32];
        std::snprintf(name, sizeof name, "\\\\.\\interception%02d", index);
        slot->device = os_open_device(name);
        if (slot->device == os_invalid_handle) {
            os_open_failure why = os_last_open_failure();
            set->in_use += why == os_open_in_use;
            set->denied += why == os_open_denied;
            continue;
        }
        ++set->opened;
        slot->input_event = os_create_event();
        if (slot->input_event == os_null_handle || !register_event(slot->device, slot->input_event)) {
            close_device_set(set);
            return nullptr;
        }
    }
    return set;
}

void close_device_set(device_set* set) {
    if (set == nullptr) return;
    for (int index = 0; index < device_count; ++index) {
        device_slot* slot = &set->slots[index];
        if (is_open(slot->device)) os_close_handle(slot->device);
        if (slot->input_event != os_null_handle) os_close_handle(slot->input_event);
    }
    if (set->wake_event != os_null_handle) os_close_handle(set->wake_event);
    os_heap_free(set);
}

void set_keyboard_filter(device_set* set, uint16_t filter) {
    if (set == nullptr) return;
    const uint8_t bytes[2] = {static_cast<uint8_t>(filter & 0xFF), static_cast<uint8_t>(filter >> 8)};
    for (int index = 0; index < keyboard_count; ++index) {
        // A slot whose open failed holds the invalid handle, not zero, so the
        // request goes out for it too and simply fails.
        os_handle device = set->slots[index].device;
        if (device != os_null_handle)
            os_device_control(device, ctl_set_filter, bytes, sizeof bytes, nullptr, 0, nullptr);
    }
}

input_wait wait_for_input(device_set* set, const os_handle* others, int other_count, uint32_t timeout_ms) {
    input_wait result = {input_failed, 0, 0};
    if (set == nullptr || other_count < 0 || other_count > input_max_others) return result;
    os_handle events[device_count + 1 + input_max_others];
    int owners[device_count];
    uint32_t count = 0;
    for (int index = 0; index < device_count; ++index) {
        if (set->slots[index].input_event == os_null_handle) continue;
        events[count] = set->slots[index].input_event;
        owners[count] = index + 1;
        ++count;
    }
    if (count == 0) return result;
    // The wake event comes after the devices: input that is already there is
    // read first.
    events[count] = set->wake_event;
    for (int i = 0; i < other_count; ++i) events[count + 1 + i] = others[i];
    uint32_t total = count + 1 + static_cast<uint32_t>(other_count);
    uint32_t position = os_wait_for_any(total, events, timeout_ms);
    if (position == os_wait_failed) return result;
    if (position == os_wait_over) {
        result.end = input_over;
        return result;
    }
    if (position == os_wait_killed) {
        result.end = input_killed;
        return result;
    }
    if (position == os_wait_timeout) {
        result.end = input_quiet;
    } else if (position < count) {
        result.end = input_device;
        result.device = owners[position];
    } else if (position == count) {
        result.end = input_woken;
    } else if (position < total) {
        result.end = input_other;
        result.other = static_cast<int>(position - count - 1);
    } else {
        result.end = input_device;
        result.device = device_count + 1;
    }
    return result;
}

int wait_for_device(device_set* set) {
    input_wait wait = wait_for_input(set, nullptr, 0, os_wait_infinite);
    switch (wait.end) {
    case input_device: return wait.device;
    case input_woken: return device_woken;
    default: return 0;
    }
}

void wake_device_wait(device_set* set) {
    if (set != nullptr) os_set_event(set->wake_event);
}

bool set_device_filter(device_set* set, int device, uint16_t filter) {
    if (set == nullptr || device < 1 || device > keyboard_count) return false;
    os_handle handle = set->slots[device - 1].device;
    if (!is_open(handle)) return false;
    const uint8_t bytes[2] = {static_cast<uint8_t>(filter & 0xFF), static_cast<uint8_t>(filter >> 8)};
    return os_device_control(handle, ctl_set_filter, bytes, sizeof bytes, nullptr, 0, nullptr);
}

bool device_opened(const device_set* set, int device) {
    return set != nullptr && device >= 1 && device <= device_count && is_open(set->slots[device - 1].device);
}
