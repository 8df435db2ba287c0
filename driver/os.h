#ifndef PADMAP_DRIVER_OS_H
#define PADMAP_DRIVER_OS_H

#include <cstddef>
#include <cstdint>

// The operating-system calls the filter-driver client makes, with their Win32
// meaning. driver/os-win32.cpp binds them to kernel32; sim/os-sim.cpp binds
// them to the simulated driver. Nothing here names an OS type: a handle is an
// opaque pointer-sized number. The rest of the system that the key loop uses
// (watches, the window in front, the clock) is in app/platform.h.

typedef uintptr_t os_handle;

constexpr os_handle os_null_handle = 0;
// INVALID_HANDLE_VALUE: what a failed device open gives.
constexpr os_handle os_invalid_handle = ~static_cast<uintptr_t>(0);

// Results of os_wait_for_any besides "object k signalled" (0..count-1).
constexpr uint32_t os_wait_timeout = 0x102;
constexpr uint32_t os_wait_failed = 0xFFFFFFFF;
// Never a Windows result: the simulated system's script has ended, nothing
// more will ever be signalled.
constexpr uint32_t os_wait_over = 0xFFFFFFFE;
// Never a Windows result either: the simulated process is killed here. The
// waiter ends at once, doing nothing a stop would do, as a killed process
// does nothing more.
constexpr uint32_t os_wait_killed = 0xFFFFFFFD;

// CreateFileA(name, GENERIC_READ, no sharing, no security, OPEN_EXISTING, no
// flags, no template). Returns os_invalid_handle when the open fails.
os_handle os_open_device(const char* name);

// Why the last os_open_device failed, as GetLastError tells it: the device
// does not exist, another program holds it (it is opened without sharing), or
// access to it was refused.
enum os_open_failure { os_open_missing, os_open_in_use, os_open_denied };
os_open_failure os_last_open_failure();

// CreateEventW(no security, manual reset, not signalled, no name). Returns
// os_null_handle when creation fails.
os_handle os_create_event();

// DeviceIoControl, synchronous. Returns false when the request fails; *returned
// (when not null) then holds 0, otherwise the bytes the driver reported.
bool os_device_control(os_handle device, uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                       uint32_t* returned);

constexpr uint32_t os_wait_infinite = 0xFFFFFFFF;

// WaitForMultipleObjects(count, handles, wait for any, timeout_ms). Returns the
// position of the signalled handle (the lowest when several are), or
// os_wait_failed / os_wait_timeout. Fails with no handles.
uint32_t os_wait_for_any(uint32_t count, const os_handle* handles, uint32_t timeout_ms = os_wait_infinite);

// SetEvent. Safe from any thread. Returns false when the handle is no open
// event.
bool os_set_event(os_handle event);

// ResetEvent. Returns false when the handle is no open event.
bool os_reset_event(os_handle event);

// ERROR_NOT_ENOUGH_MEMORY, for a failure to allocate that no call reports.
constexpr uint32_t os_error_no_memory = 8;

// GetLastError: why the last call that failed on this thread failed.
uint32_t os_last_error();

// The system's words for an error (FormatMessageW from the system, as UTF-8,
// without the line end), NUL-terminated in out (cap bytes, cap >= 1);
// returns the length. Text of its own when the system has none.
size_t os_error_text(uint32_t error, char* out, size_t cap);

// CloseHandle. Returns false when the handle was not open.
bool os_close_handle(os_handle handle);

// HeapAlloc on the process heap (zero-filled when zero is true); null on
// failure. os_heap_free takes null quietly.
void* os_heap_alloc(size_t size, bool zero);
void os_heap_free(void* block);

#endif
