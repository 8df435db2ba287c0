#include "driver/os.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include <windows.h>

#include <dbt.h>

os_handle os_open_device(const char* name) {
    HANDLE device = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return reinterpret_cast<os_handle>(device);
}

os_open_failure os_last_open_failure() {
    switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION: return os_open_in_use;
    case ERROR_ACCESS_DENIED: return os_open_denied;
    default: return os_open_missing;
    }
}

os_handle os_create_event() {
    return reinterpret_cast<os_handle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

bool os_device_control(os_handle device, uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                       uint32_t* returned) {
    DWORD bytes = 0;
    BOOL done = DeviceIoControl(reinterpret_cast<HANDLE>(device), code, const_cast<void*>(in), in_size, out, out_size,
                                &bytes, nullptr);
    if (returned != nullptr) *returned = done ? bytes : 0;
    return done != FALSE;
}

uint32_t os_wait_for_any(uint32_t count, const os_handle* handles, uint32_t timeout_ms) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) return os_wait_failed;
    HANDLE events[MAXIMUM_WAIT_OBJECTS];
    for (uint32_t i = 0; i < count; ++i) events[i] = reinterpret_cast<HANDLE>(handles[i]);
    DWORD result = WaitForMultipleObjects(count, events, FALSE, timeout_ms == os_wait_infinite ? INFINITE : timeout_ms);
    if (result == WAIT_FAILED) return os_wait_failed;
    if (result == WAIT_TIMEOUT) return os_wait_timeout;
    if (result - WAIT_OBJECT_0 < count) return result - WAIT_OBJECT_0;
    // An abandoned object is a mutex, never one of our events; the caller
    // maps a position past its list to no device.
    if (result - WAIT_ABANDONED_0 < count) return count + (result - WAIT_ABANDONED_0);
    return os_wait_failed;
}

bool os_set_event(os_handle event) {
    if (event == os_null_handle) return false;
    return SetEvent(reinterpret_cast<HANDLE>(event)) != FALSE;
}

bool os_reset_event(os_handle event) {
    if (event == os_null_handle) return false;
    return ResetEvent(reinterpret_cast<HANDLE>(event)) != FALSE;
}

bool os_close_handle(os_handle handle) {
    // The invalid value is also the current-process pseudo handle; closing
    // it would report success for a handle that was never opened.
    if (handle == os_null_handle || handle == os_invalid_handle) return false;
    return CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

void* os_heap_alloc(size_t size, bool zero) {
    return HeapAlloc(GetProcessHeap(), zero ? HEAP_ZERO_MEMORY : 0, size);
}

void os_heap_free(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

uint32_t os_last_error() {
    return GetLastError();
}

size_t os_error_text(uint32_t error, char* out, size_t cap) {
    if (cap == 0) return 0;
    wchar_t text[512];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 sizeof text / sizeof text[0], nullptr);
    // The system ends its messages with a line end.
    while (units > 0 && (text[units - 1] == L'\r' || text[units - 1] == L'\n' || text[units - 1] == L' ')) --units;
    int length = 0;
    if (units > 0) {
        length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), out, static_cast<int>(cap - 1), nullptr,
                                     nullptr);
    }
    if (length <= 0) length = std::snprintf(out, cap, "error %lu", static_cast<unsigned long>(error));
    if (length < 0) length = 0;
    size_t used = static_cast<size_t>(length) < cap ? static_cast<size_t>(length) : cap - 1;
    out[used] = 0;
    return used;
}
