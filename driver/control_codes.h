#ifndef PADMAP_DRIVER_CONTROL_CODES_H
#define PADMAP_DRIVER_CONTROL_CODES_H

#include <cstdint>

// The Windows device-control code layout: device type, access, function, method.
constexpr uint32_t ctl_code(uint32_t device_type, uint32_t function, uint32_t method, uint32_t access) {
    return (device_type << 16) | (access << 14) | (function << 2) | method;
}

constexpr uint32_t file_device_unknown = 0x22;
constexpr uint32_t method_buffered = 0;
constexpr uint32_t file_any_access = 0;

constexpr uint32_t ctl_set_filter = ctl_code(file_device_unknown, 0x804, method_buffered, file_any_access);
constexpr uint32_t ctl_set_event = ctl_code(file_device_unknown, 0x810, method_buffered, file_any_access);
constexpr uint32_t ctl_write = ctl_code(file_device_unknown, 0x820, method_buffered, file_any_access);
constexpr uint32_t ctl_read = ctl_code(file_device_unknown, 0x840, method_buffered, file_any_access);
constexpr uint32_t ctl_get_hardware_id = ctl_code(file_device_unknown, 0x880, method_buffered, file_any_access);

#endif
