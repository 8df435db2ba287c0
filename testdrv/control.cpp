#include "testdrv/control.h"

#include <cstring>
#include <string>

#include <windows.h>

namespace {

bool request(testctl_link* link, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
             DWORD* returned) {
    DWORD count = 0;
    BOOL ok = DeviceIoControl(static_cast<HANDLE>(link->handle), code, const_cast<void*>(in), in_size, out, out_size,
                              &count, nullptr);
    if (returned != nullptr) *returned = ok ? count : 0;
    return ok != FALSE;
}

bool send_id(testctl_link* link, DWORD code, int device, const char16_t* id, size_t units) {
    static testctl_declare declare;
    std::memset(&declare, 0, sizeof declare);
    declare.device = static_cast<uint32_t>(device);
    declare.has_id = id != nullptr;
    if (id != nullptr) {
        if (units > TESTCTL_ID_UNITS) units = TESTCTL_ID_UNITS;
        declare.id_units = static_cast<uint32_t>(units);
        std::memcpy(declare.id, id, units * 2);
    }
    return request(link, code, &declare, sizeof declare, nullptr, 0, nullptr);
}

}  // namespace

bool testctl_open(testctl_link* link) {
    HANDLE handle = CreateFileA(TESTCTL_DOS_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    link->handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    return link->handle != nullptr;
}

void testctl_close(testctl_link* link) {
    if (link->handle != nullptr) CloseHandle(static_cast<HANDLE>(link->handle));
    link->handle = nullptr;
}

bool testctl_reset(testctl_link* link) {
    return request(link, TESTCTL_RESET, nullptr, 0, nullptr, 0, nullptr);
}

bool testctl_declare_device(testctl_link* link, int device, const char16_t* id, size_t units) {
    return send_id(link, TESTCTL_DECLARE, device, id, units);
}

bool testctl_declare_pad_and_main(testctl_link* link) {
    return testctl_declare_device(link, 1, testdrv_pad_id, std::char_traits<char16_t>::length(testdrv_pad_id)) &&
           testctl_declare_device(link, 2, testdrv_main_id, std::char_traits<char16_t>::length(testdrv_main_id));
}

bool testctl_change_id(testctl_link* link, int device, const char16_t* id, size_t units) {
    return send_id(link, TESTCTL_CHANGE_ID, device, id, units);
}

void testctl_key_record(uint8_t* record, uint16_t make_code, uint16_t key_state, uint32_t extra_info) {
    std::memset(record, 0, 12);
    record[2] = static_cast<uint8_t>(make_code);
    record[3] = static_cast<uint8_t>(make_code >> 8);
    record[4] = static_cast<uint8_t>(key_state);
    record[5] = static_cast<uint8_t>(key_state >> 8);
    for (int i = 0; i < 4; ++i) record[8 + i] = static_cast<uint8_t>(extra_info >> (8 * i));
}

bool testctl_push_key(testctl_link* link, int device, uint16_t make_code, uint16_t key_state, uint32_t extra_info) {
    testctl_push push;
    std::memset(&push, 0, sizeof push);
    push.device = static_cast<uint32_t>(device);
    testctl_key_record(push.record, make_code, key_state, extra_info);
    return request(link, TESTCTL_PUSH, &push, sizeof push, nullptr, 0, nullptr);
}

bool testctl_push_key_timed(testctl_link* link, int device, uint16_t make_code, uint16_t key_state, uint32_t extra_info,
                            int64_t* typed_at) {
    testctl_push push;
    std::memset(&push, 0, sizeof push);
    push.device = static_cast<uint32_t>(device);
    testctl_key_record(push.record, make_code, key_state, extra_info);
    DWORD returned = 0;
    return request(link, TESTCTL_PUSH, &push, sizeof push, typed_at, sizeof *typed_at, &returned) &&
           returned == sizeof *typed_at;
}

bool testctl_get_status(testctl_link* link, testctl_status* status) {
    DWORD returned = 0;
    return request(link, TESTCTL_STATUS, nullptr, 0, status, sizeof *status, &returned) && returned == sizeof *status;
}

int testctl_take_delivered(testctl_link* link, testctl_delivered* out, int max) {
    DWORD returned = 0;
    if (!request(link, TESTCTL_TAKE_DELIVERED, nullptr, 0, out, static_cast<DWORD>(max) * sizeof(testctl_delivered),
                 &returned)) {
        return -1;
    }
    return static_cast<int>(returned / sizeof(testctl_delivered));
}

int testctl_take_requests(testctl_link* link, testctl_request* out, int max) {
    DWORD returned = 0;
    if (!request(link, TESTCTL_TAKE_REQUESTS, nullptr, 0, out, static_cast<DWORD>(max) * sizeof(testctl_request),
                 &returned)) {
        return -1;
    }
    return static_cast<int>(returned / sizeof(testctl_request));
}

bool testctl_end(testctl_link* link) {
    return request(link, TESTCTL_END, nullptr, 0, nullptr, 0, nullptr);
}

bool testctl_short_write(testctl_link* link, uint32_t number, uint32_t bytes, bool refuse) {
    testctl_short_write_request spoil = {number, bytes, refuse ? 1u : 0u};
    return request(link, TESTCTL_SHORT_WRITE, &spoil, sizeof spoil, nullptr, 0, nullptr);
}

bool testctl_burst_key(testctl_link* link, int device, uint32_t count, uint16_t make_code, uint16_t key_state) {
    testctl_burst burst;
    std::memset(&burst, 0, sizeof burst);
    burst.device = static_cast<uint32_t>(device);
    burst.count = count;
    testctl_key_record(burst.records[0], make_code, key_state, 0);
    testctl_key_record(burst.records[1], make_code, static_cast<uint16_t>(key_state | 1), 0);
    return request(link, TESTCTL_BURST, &burst, sizeof burst, nullptr, 0, nullptr);
}

const char* testctl_wait_for_capture(testctl_link* link, void* client, uint32_t limit_ms) {
    ULONGLONG started = GetTickCount64();
    for (;;) {
        testctl_status status;
        if (!testctl_get_status(link, &status)) return "the test driver stopped answering";
        if (status.filter[0] != 0 && status.has_event[0]) return nullptr;
        if (WaitForSingleObject(static_cast<HANDLE>(client), 1) == WAIT_OBJECT_0) {
            return "the program exited before it captured the pad";
        }
        if (GetTickCount64() - started > limit_ms) return "the program never captured the pad";
    }
}
