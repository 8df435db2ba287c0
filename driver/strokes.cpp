#include "driver/strokes.h"

#include "driver/control_codes.h"
#include "driver/device_set.h"

namespace {

// The slot's device handle, or 0 when the call must not reach the driver.
os_handle checked_device(const device_set* set, int device) {
    if (set == nullptr) return os_null_handle;
    if (device < 1 || device > device_count) return os_null_handle;
    return set->slots[device - 1].device;
}

bool is_keyboard(int device) {
    return device <= keyboard_count;
}

void put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t get16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t get32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
           (static_cast<uint32_t>(at[3]) << 24);
}

void encode_key(const key_stroke& key, uint8_t* record) {
    put16(record + 0, 0);
    put16(record + 2, key.make_code);
    put16(record + 4, key.key_state);
    put16(record + 6, 0);
    put32(record + 8, key.extra_info);
}

void decode_key(const uint8_t* record, key_stroke* key) {
    key->make_code = get16(record + 2);
    key->key_state = get16(record + 4);
    key->extra_info = get32(record + 8);
}

void encode_mouse(const mouse_stroke& mouse, uint8_t* record) {
    put16(record + 0, 0);
    put16(record + 2, mouse.move_flags);
    put16(record + 4, mouse.button_state);
    put16(record + 6, static_cast<uint16_t>(mouse.wheel_delta));
    put32(record + 8, 0);
    put32(record + 12, static_cast<uint32_t>(mouse.pos_x));
    put32(record + 16, static_cast<uint32_t>(mouse.pos_y));
    put32(record + 20, mouse.extra_info);
}

void decode_mouse(const uint8_t* record, mouse_stroke* mouse) {
    mouse->move_flags = get16(record + 2);
    mouse->button_state = get16(record + 4);
    mouse->wheel_delta = static_cast<int16_t>(get16(record + 6));
    mouse->pos_x = static_cast<int32_t>(get32(record + 12));
    mouse->pos_y = static_cast<int32_t>(get32(record + 16));
    mouse->extra_info = get32(record + 20);
}

}  // namespace

int send_stroke(device_set* set, int device, const stroke* from, uint32_t* bytes) {
    if (bytes != nullptr) *bytes = send_no_request;
    os_handle handle = checked_device(set, device);
    if (handle == os_null_handle) return 0;
    uint32_t size = is_keyboard(device) ? key_record_size : mouse_record_size;
    uint8_t* record = static_cast<uint8_t*>(os_heap_alloc(size, false));
    if (record == nullptr) return 0;
    if (is_keyboard(device)) {
        encode_key(from->key, record);
    } else {
        encode_mouse(from->mouse, record);
    }
    uint32_t taken = 0;
    os_device_control(handle, ctl_write, record, size, nullptr, 0, &taken);
    os_heap_free(record);
    if (bytes != nullptr) *bytes = taken;
    return static_cast<int>(taken / size);
}

int receive_stroke(device_set* set, int device, stroke* into) {
    os_handle handle = checked_device(set, device);
    if (handle == os_null_handle) return 0;
    uint32_t size = is_keyboard(device) ? key_record_size : mouse_record_size;
    uint8_t* record = static_cast<uint8_t*>(os_heap_alloc(size, true));
    if (record == nullptr) return receive_no_memory;
    uint32_t filled = 0;
    bool answered = os_device_control(handle, ctl_read, nullptr, 0, record, size, &filled);
    // The buffer holds one record; a count claiming more cannot have more.
    int received = !answered ? receive_failed : filled >= size ? 1 : filled > 0 ? receive_partial : 0;
    if (received == 1) {
        if (is_keyboard(device)) {
            decode_key(record, &into->key);
        } else {
            decode_mouse(record, &into->mouse);
        }
    }
    os_heap_free(record);
    return received;
}

int get_hardware_id(device_set* set, int device, char16_t* id) {
    os_handle handle = checked_device(set, device);
    if (handle == os_null_handle) return 0;
    // The driver writes UTF-16LE, the in-memory form of char16_t on every
    // target this runs on.
    uint32_t written = 0;
    os_device_control(handle, ctl_get_hardware_id, nullptr, 0, id, hardware_id_bytes, &written);
    // The text ends where the answer ends: a driver that writes no terminator
    // must not leave the tail of an earlier, longer id to be read as part of
    // this one. A full buffer has no room for one and is no usable id anyway.
    if (written > 0 && written < hardware_id_bytes) id[written / 2] = 0;
    return static_cast<int>(written);
}
