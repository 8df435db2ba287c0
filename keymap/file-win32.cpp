#include "keymap/file.h"

#include <windows.h>

#include <new>

struct config_file {
    HANDLE handle;
};

config_file* open_config_file(const char16_t* path) {
    // Other programs may keep the file open, an editor for instance. One
    // that saves by renaming or deleting this file and putting a new one in
    // its place must not fail while padmap reads it: that takes the delete
    // sharing.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // Consoles, pipes and devices such as the driver's own are no files.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    config_file* file = new (std::nothrow) config_file;
    if (file == nullptr) {
        CloseHandle(handle);
        return nullptr;
    }
    file->handle = handle;
    return file;
}

long read_config_file(config_file* file, uint8_t* into, size_t cap) {
    DWORD wanted = cap > 0x40000000u ? 0x40000000u : static_cast<DWORD>(cap);
    DWORD got = 0;
    if (!ReadFile(file->handle, into, wanted, &got, nullptr)) return -1;
    return static_cast<long>(got);
}

void close_config_file(config_file* file) {
    if (file == nullptr) return;
    CloseHandle(file->handle);
    delete file;
}
