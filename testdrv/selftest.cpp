// Checks the test driver against the keyboard filter driver's protocol, from a
// client's side, before any session trusts it. One line per failed check, then
// a summary; exit status 1 when a check failed, 3 when the driver is missing.

#include <cstdio>
#include <cstring>
#include <string>

#include <windows.h>

#include "testdrv/control.h"

namespace {

constexpr DWORD ctl_set_filter = 0x222010;
constexpr DWORD ctl_set_event = 0x222040;
constexpr DWORD ctl_write = 0x222080;
constexpr DWORD ctl_read = 0x222100;
constexpr DWORD ctl_get_hardware_id = 0x222200;

int checks_failed = 0;
int checks_run = 0;

void check(bool ok, const char* test, const char* what) {
    ++checks_run;
    if (ok) return;
    ++checks_failed;
    std::printf("FAIL %s: %s\n", test, what);
}

HANDLE open_device(int device) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\interception%02d", device - 1);
    return CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool control(HANDLE device, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
    DWORD count = 0;
    BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), in_size, out, out_size, &count, nullptr);
    *returned = ok ? count : 0;
    return ok != FALSE;
}

bool set_filter(HANDLE device, uint16_t filter) {
    DWORD n;
    return control(device, ctl_set_filter, &filter, 2, nullptr, 0, &n);
}

// The client's form: the handle in the first 4 bytes, 4 zero bytes after it.
bool register_event(HANDLE device, HANDLE event) {
    uint8_t field[8] = {};
    uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
    std::memcpy(field, &low, 4);
    DWORD n;
    return control(device, ctl_set_event, field, 8, nullptr, 0, &n);
}

bool signalled(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// An opened device with a registered manual-reset event.
struct client {
    HANDLE device;
    HANDLE event;
};

client connect(int device) {
    client c = {open_device(device), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (c.device != INVALID_HANDLE_VALUE) register_event(c.device, c.event);
    return c;
}

void disconnect(client* c) {
    if (c->device != INVALID_HANDLE_VALUE) CloseHandle(c->device);
    CloseHandle(c->event);
    c->device = INVALID_HANDLE_VALUE;
}

bool fresh(testctl_link* link, const int* devices, int count) {
    if (!testctl_reset(link)) return false;
    for (int i = 0; i < count; ++i) {
        if (!testctl_declare_device(link, devices[i], u"id", 2)) return false;
    }
    return true;
}

int take_all(testctl_link* link, testctl_delivered* out, int max) {
    int n = testctl_take_delivered(link, out, max);
    return n < 0 ? 0 : n;
}

void test_open(testctl_link* link) {
    const char* t = "device objects";
    const int declared[] = {3, 13};
    check(fresh(link, declared, 2), t, "reset and declare");
    HANDLE keyboard = open_device(3);
    HANDLE mouse = open_device(13);
    HANDLE missing = open_device(4);
    check(keyboard != INVALID_HANDLE_VALUE, t, "a declared keyboard opens");
    check(mouse != INVALID_HANDLE_VALUE, t, "a declared mouse opens");
    check(missing == INVALID_HANDLE_VALUE, t, "an undeclared device does not open");
    CloseHandle(keyboard);
    CloseHandle(mouse);
    check(testctl_reset(link), t, "reset");
    HANDLE after = open_device(3);
    check(after == INVALID_HANDLE_VALUE, t, "a reset forgets the declared devices");
    if (after != INVALID_HANDLE_VALUE) CloseHandle(after);
}

struct id_case {
    const char* name;
    int units;  // -1: no id; otherwise units of 'x', or the text below
    const char16_t* text;
    DWORD out_size;
    bool ok;
    DWORD bytes;
};

void test_hardware_id(testctl_link* link) {
    static const id_case cases[] = {
        {"short id with its terminator", 3, u"kbd", 1000, true, 8},
        {"empty id is the terminator alone", 0, u"", 1000, true, 2},
        {"no id fails", -1, nullptr, 1000, false, 0},
        {"498 units fit with the terminator", 498, nullptr, 1000, true, 998},
        {"499 units fill the buffer", 499, nullptr, 1000, true, 1000},
        {"a longer id is cut at the buffer", 700, nullptr, 1000, true, 1000},
        {"a small buffer caps the answer", 3, u"kbd", 4, true, 4},
        {"non-ASCII units travel unchanged", 5, u"Gr\u00fc\u00dfe", 1000, true, 12},
    };
    static char16_t long_id[TESTCTL_ID_UNITS];
    for (char16_t& unit : long_id) unit = u'x';
    for (const id_case& c : cases) {
        const char16_t* text = c.units < 0 ? nullptr : (c.text != nullptr ? c.text : long_id);
        check(testctl_reset(link) && testctl_declare_device(link, 2, text, c.units < 0 ? 0 : c.units), c.name,
              "declare");
        HANDLE device = open_device(2);
        uint8_t buffer[1200];
        std::memset(buffer, 0xAB, sizeof buffer);
        DWORD n = 0;
        bool ok = control(device, ctl_get_hardware_id, nullptr, 0, buffer, c.out_size, &n);
        check(ok == c.ok, c.name, ok ? "the request succeeded" : "the request failed");
        check(n == c.bytes, c.name, "byte count");
        if (ok && text != nullptr) {
            uint8_t expected[1200] = {};
            size_t size = static_cast<size_t>(c.units) * 2;
            std::memcpy(expected, text, size < sizeof expected ? size : sizeof expected);
            check(std::memcmp(buffer, expected, n) == 0, c.name, "id bytes");
        }
        check(buffer[c.out_size] == 0xAB, c.name, "nothing written past the buffer");
        CloseHandle(device);
    }
}

struct write_case {
    const char* name;
    int device;
    DWORD in_size;
    DWORD taken;
};

void test_write(testctl_link* link) {
    static const write_case cases[] = {
        {"keyboard: one record", 2, 12, 12},
        {"keyboard: two records", 2, 24, 24},
        {"keyboard: a short record is not taken", 2, 11, 0},
        {"keyboard: a trailing part is not taken", 2, 25, 24},
        {"mouse: one record", 12, 24, 24},
        {"mouse: a keyboard-sized record is not taken", 12, 12, 0},
        {"mouse: two records", 12, 48, 48},
    };
    for (const write_case& c : cases) {
        const int declared[] = {c.device};
        check(fresh(link, declared, 1), c.name, "reset and declare");
        HANDLE device = open_device(c.device);
        uint8_t records[64];
        for (int i = 0; i < 64; ++i) records[i] = static_cast<uint8_t>(i + 1);
        DWORD n = 0;
        check(control(device, ctl_write, records, c.in_size, nullptr, 0, &n), c.name, "the write failed");
        check(n == c.taken, c.name, "bytes taken");
        testctl_delivered got[8];
        int count = take_all(link, got, 8);
        DWORD size = c.device <= 10 ? 12 : 24;
        check(count == static_cast<int>(c.taken / size), c.name, "records delivered");
        for (int i = 0; i < count; ++i) {
            check(got[i].device == static_cast<uint32_t>(c.device) && got[i].size == size &&
                      std::memcmp(got[i].record, records + i * size, size) == 0,
                  c.name, "delivered record");
        }
        CloseHandle(device);
    }
}

void test_capture(testctl_link* link) {
    const char* t = "capture";
    const int declared[] = {1, 5};
    check(fresh(link, declared, 2), t, "reset and declare");
    client one = connect(1);
    client five = connect(5);
    check(one.device != INVALID_HANDLE_VALUE && five.device != INVALID_HANDLE_VALUE, t, "open");

    check(testctl_push_key(link, 5, 0x1E, 0, 7), t, "push on an unfiltered keyboard");
    testctl_delivered got[8];
    int count = take_all(link, got, 8);
    check(count == 1 && got[0].device == 5, t, "an unfiltered stroke goes straight to the system");
    check(!signalled(five.event), t, "an unfiltered stroke signals nothing");

    check(set_filter(one.device, 0xFFFF) && set_filter(five.device, 0xFFFF), t, "set the filter");
    check(!testctl_push_key(link, 6, 0x1E, 0, 0), t, "a push on an undeclared keyboard is refused");
    check(testctl_push_key(link, 5, 0x3A, 1, 0x01020304), t, "push on a filtered keyboard");
    check(take_all(link, got, 8) == 0, t, "a filtered stroke is held back");
    HANDLE events[2] = {one.event, five.event};
    check(WaitForMultipleObjects(2, events, FALSE, 2000) == WAIT_OBJECT_0 + 1, t,
          "the waiting client wakes on the keyboard's event");

    uint8_t record[48];
    uint8_t expected[12];
    testctl_key_record(expected, 0x3A, 1, 0x01020304);
    DWORD n = 0;
    check(control(five.device, ctl_read, nullptr, 0, record, 12, &n) && n == 12, t, "read one record");
    check(std::memcmp(record, expected, 12) == 0, t, "the record read is the one typed");
    check(!signalled(five.event), t, "the event clears when the queue empties");
    check(control(five.device, ctl_read, nullptr, 0, record, 12, &n) && n == 0, t, "an empty queue reads 0 bytes");

    for (uint16_t make = 0x10; make < 0x13; ++make) testctl_push_key(link, 1, make, 0, 0);
    check(control(one.device, ctl_read, nullptr, 0, record, 12, &n) && n == 12 && record[2] == 0x10, t,
          "the oldest stroke first");
    check(signalled(one.event), t, "the event stays set while strokes wait");
    check(
        control(one.device, ctl_read, nullptr, 0, record, 48, &n) && n == 24 && record[2] == 0x11 && record[14] == 0x12,
        t, "a larger buffer takes every waiting record in order");
    check(!signalled(one.event), t, "and the event clears");

    testctl_push_key(link, 5, 0x2A, 0, 0);
    disconnect(&five);
    testctl_status status;
    check(testctl_get_status(link, &status), t, "status");
    check(status.filter[4] == 0 && !status.has_event[4] && status.queued[4] == 0, t, "a closed device stops capturing");
    count = take_all(link, got, 8);
    check(count == 1 && got[0].device == 5 && got[0].record[2] == 0x2A, t,
          "a stroke left unread reaches the system when its client goes");
    disconnect(&one);
}

void test_event_registration(testctl_link* link) {
    const char* t = "event registration";
    const int declared[] = {2};
    check(fresh(link, declared, 1), t, "reset and declare");
    HANDLE device = open_device(2);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD n;
    uint8_t short_field[4] = {};
    check(!control(device, ctl_set_event, short_field, 4, nullptr, 0, &n), t, "a 4-byte field is refused");
    uint8_t bogus[8] = {0x40, 0x77, 0, 0, 0, 0, 0, 0};
    check(!register_event(device, nullptr) && !control(device, ctl_set_event, bogus, 8, nullptr, 0, &n), t,
          "a handle that names no event is refused");
    set_filter(device, 3);
    testctl_push_key(link, 2, 0x1E, 0, 0);
    check(register_event(device, event), t, "register");
    check(signalled(event), t, "an event registered while strokes wait is set at once");
    CloseHandle(device);
    CloseHandle(event);
}

void test_end(testctl_link* link) {
    const char* t = "end of session";
    const int declared[] = {1, 2, 11};
    check(fresh(link, declared, 3), t, "reset and declare");
    client one = connect(1);
    client mouse = connect(11);
    set_filter(one.device, 0xFFFF);
    check(!signalled(one.event) && !signalled(mouse.event), t, "nothing waits");
    check(testctl_end(link), t, "end");
    check(signalled(one.event) && signalled(mouse.event), t, "every registered event is set");
    uint8_t record[24];
    DWORD n = 1;
    check(control(one.device, ctl_read, nullptr, 0, record, 12, &n) && n == 0, t, "a read answers 0 bytes");
    check(signalled(one.event), t, "and the event stays set");
    client two = connect(2);
    check(signalled(two.event), t, "an event registered later is set at once");
    disconnect(&one);
    disconnect(&two);
    disconnect(&mouse);
}

void test_full_store(testctl_link* link) {
    const char* t = "delivered store";
    const int declared[] = {4};
    check(fresh(link, declared, 1), t, "reset and declare");
    HANDLE device = open_device(4);
    static uint8_t records[4100 * 12];
    std::memset(records, 0, sizeof records);
    DWORD n = 0;
    check(control(device, ctl_write, records, sizeof records, nullptr, 0, &n), t, "write");
    check(n == 4096 * 12, t, "a full store takes no more records and says so");
    testctl_status status;
    check(testctl_get_status(link, &status) && status.lost == 1 && status.waiting == 4096, t,
          "the loss is reported to the test side");
    CloseHandle(device);
}

int take_requests(testctl_link* link, testctl_request* out, int max) {
    int n = testctl_take_requests(link, out, max);
    return n < 0 ? 0 : n;
}

// What a request case sends as input.
enum record_input {
    input_none,
    input_pattern,    // bytes 1, 2, 3, ...
    input_own_event,  // the client's form of its event handle
    input_no_event,   // a handle field that names nothing
};

struct record_case {
    const char* name;
    int device;
    DWORD code;
    record_input input;
    DWORD in_size;
    DWORD out_size;
    bool key_waiting;  // one stroke is queued on the device first
    bool done;
    DWORD returned;
    uint16_t filter;
    bool names_event;
};

// Each case runs on a fresh session: keyboard 1 with an id, its event and a
// filter; keyboard 2 without an id; mouse 11. Only the case's request may be
// recorded, exactly as sent and answered.
void test_request_fields(testctl_link* link) {
    static const record_case cases[] = {
        {"record: set-filter keeps the first two input bytes", 1, ctl_set_filter, input_pattern, 2, 0, false, true, 0,
         0x0201, false},
        {"record: a one-byte set-filter fails and has no filter", 1, ctl_set_filter, input_pattern, 1, 0, false, false,
         0, 0, false},
        {"record: set-event with the client's event", 1, ctl_set_event, input_own_event, 8, 0, false, true, 0, 0, true},
        {"record: set-event naming no event", 1, ctl_set_event, input_no_event, 8, 0, false, false, 0, 0, false},
        {"record: a keyboard write counts whole records", 1, ctl_write, input_pattern, 18, 0, false, true, 12, 0,
         false},
        {"record: a mouse write", 11, ctl_write, input_pattern, 24, 0, false, true, 24, 0, false},
        {"record: a read gives the bytes handed out", 1, ctl_read, input_none, 0, 24, true, true, 12, 0, false},
        {"record: a hardware id gives its size", 1, ctl_get_hardware_id, input_none, 0, 1000, false, true, 6, 0, false},
        {"record: a refused hardware id gives 0", 2, ctl_get_hardware_id, input_none, 0, 1000, false, false, 0, 0,
         false},
        {"record: an unknown code is kept", 1, 0x222444, input_none, 0, 0, false, false, 0, 0, false},
    };
    for (const record_case& c : cases) {
        const int declared[] = {1, 11};
        check(fresh(link, declared, 2) && testctl_declare_device(link, 2, nullptr, 0), c.name, "reset and declare");
        client one = connect(1);
        HANDLE two = open_device(2);
        HANDLE mouse = open_device(11);
        set_filter(one.device, 0xFFFF);
        if (c.key_waiting) testctl_push_key(link, 1, 0x1E, 0, 0);
        testctl_request got[4];
        take_requests(link, got, 4);

        uint8_t in[32];
        for (int i = 0; i < 32; ++i) in[i] = static_cast<uint8_t>(i + 1);
        uint32_t event = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(one.event));
        if (c.input == input_own_event || c.input == input_no_event) {
            std::memset(in, 0, sizeof in);
            if (c.input == input_no_event) event = 0x7740;
            std::memcpy(in, &event, 4);
        }
        HANDLE target = c.device == 1 ? one.device : c.device == 2 ? two : mouse;
        uint8_t out[1200];
        DWORD n = 0;
        bool ok = control(target, c.code, c.input == input_none ? nullptr : in, c.in_size,
                          c.out_size > 0 ? out : nullptr, c.out_size, &n);
        check(ok == c.done, c.name, "the request's outcome");
        int count = take_requests(link, got, 4);
        check(count == 1, c.name, "one record");
        if (count >= 1) {
            const testctl_request& r = got[0];
            check(r.kind == TESTCTL_REQUEST_CONTROL && r.device == static_cast<uint32_t>(c.device) && r.code == c.code,
                  c.name, "device and code");
            check(r.input_size == c.in_size && r.output_size == c.out_size, c.name, "buffer sizes");
            check(r.done == c.done && r.returned == c.returned, c.name, "outcome and bytes returned");
            check(r.filter == c.filter, c.name, "filter");
            check((r.handle_names_event != 0) == c.names_event, c.name, "handle field");
        }
        disconnect(&one);
        CloseHandle(two);
        CloseHandle(mouse);
    }
}

// Requests of several devices in arrival order; the control device's own
// requests are not the client's and stay out.
void test_request_order(testctl_link* link) {
    const char* t = "record order";
    const int declared[] = {1, 3};
    check(fresh(link, declared, 2), t, "reset and declare");
    HANDLE one = open_device(1);
    HANDLE three = open_device(3);
    testctl_status status;
    uint8_t id[16];
    uint8_t record[12] = {};
    DWORD n;
    set_filter(three, 5);
    testctl_get_status(link, &status);
    control(one, ctl_get_hardware_id, nullptr, 0, id, sizeof id, &n);
    testctl_push_key(link, 1, 0x1E, 0, 0);
    control(one, ctl_write, record, 12, nullptr, 0, &n);
    testctl_request got[8];
    int count = take_requests(link, got, 8);
    check(count == 3, t, "three records");
    if (count == 3) {
        check(got[0].device == 3 && got[0].code == ctl_set_filter && got[0].filter == 5, t, "first the filter");
        check(got[1].device == 1 && got[1].code == ctl_get_hardware_id && got[1].returned == 6, t, "then the id");
        check(got[2].device == 1 && got[2].code == ctl_write && got[2].returned == 12, t, "then the write");
    }
    check(take_requests(link, got, 8) == 0, t, "taken records are gone");
    CloseHandle(one);
    CloseHandle(three);
}

// The marker stands where the client meets the end: after what it still
// sent for its last stroke and after a read that found a stroke, before the
// first read that finds nothing; only once.
void test_request_end(testctl_link* link) {
    const char* t = "record end marker";
    const int declared[] = {1};
    check(fresh(link, declared, 1), t, "reset and declare");
    client one = connect(1);
    set_filter(one.device, 0xFFFF);
    testctl_request got[8];
    take_requests(link, got, 8);
    uint8_t record[12] = {};
    DWORD n;
    check(testctl_end(link), t, "end");
    check(take_requests(link, got, 8) == 0, t, "the end alone records nothing");
    control(one.device, ctl_write, record, 12, nullptr, 0, &n);
    testctl_push_key(link, 1, 0x1E, 0, 0);
    control(one.device, ctl_read, nullptr, 0, record, 12, &n);
    control(one.device, ctl_read, nullptr, 0, record, 12, &n);
    check(testctl_end(link), t, "a second end");
    control(one.device, ctl_read, nullptr, 0, record, 12, &n);
    int count = take_requests(link, got, 8);
    static const struct {
        uint32_t kind;
        uint32_t code;
        uint32_t returned;
    } expected[] = {
        {TESTCTL_REQUEST_CONTROL, ctl_write, 12}, {TESTCTL_REQUEST_CONTROL, ctl_read, 12}, {TESTCTL_REQUEST_END, 0, 0},
        {TESTCTL_REQUEST_CONTROL, ctl_read, 0},   {TESTCTL_REQUEST_CONTROL, ctl_read, 0},
    };
    check(count == 5, t, "five records");
    if (count == 5) {
        for (int i = 0; i < count; ++i) {
            check(got[i].kind == expected[i].kind && got[i].code == expected[i].code &&
                      got[i].returned == expected[i].returned,
                  t, "write, read, marker, reads");
        }
        check(got[2].device == 0 && got[2].input_size == 0 && got[2].done == 0, t, "the marker carries nothing else");
    }

    check(testctl_reset(link) && testctl_end(link) && testctl_reset(link) && testctl_declare_device(link, 1, u"id", 2),
          t, "reset, end, reset");
    client again = connect(1);
    control(again.device, ctl_read, nullptr, 0, record, 12, &n);
    count = take_requests(link, got, 8);
    check(count == 2 && got[0].kind == TESTCTL_REQUEST_CONTROL && got[1].kind == TESTCTL_REQUEST_CONTROL, t,
          "a reset forgets an end not yet met");
    disconnect(&one);
    disconnect(&again);
}

// An id change shows at the next hardware-id request, whatever the client
// read before; the last change holds.
void test_id_change(testctl_link* link) {
    const char* t = "id change";
    const int declared[] = {1};
    check(fresh(link, declared, 1), t, "reset and declare");
    check(!testctl_change_id(link, 4, u"x", 1), t, "an undeclared device keeps no id");
    client one = connect(1);
    set_filter(one.device, 0xFFFF);
    enum step_kind { change, read, ask };
    static const struct {
        step_kind kind;
        const char16_t* id;  // change: null for no id; ask: the id expected, null when refused
        const char* what;
    } steps[] = {
        {ask, u"id", "the declared id"},
        {read, nullptr, "read a stroke"},
        {change, u"newer", "change while the stroke is in hand"},
        {ask, u"newer", "the new id before any read"},
        {change, nullptr, "change to no id"},
        {ask, nullptr, "no id at once"},
        {change, u"x", "change again"},
        {change, u"yz", "and again"},
        {ask, u"yz", "the last change holds"},
        {read, nullptr, "read nothing"},
        {ask, u"yz", "a read changes nothing"},
    };
    testctl_push_key(link, 1, 0x1E, 0, 0);
    for (const auto& step : steps) {
        size_t units = step.id != nullptr ? std::char_traits<char16_t>::length(step.id) : 0;
        uint8_t buffer[1000];
        DWORD n = 0;
        switch (step.kind) {
        case change: check(testctl_change_id(link, 1, step.id, units), t, step.what); break;
        case read: check(control(one.device, ctl_read, nullptr, 0, buffer, 12, &n), t, step.what); break;
        case ask: {
            bool ok = control(one.device, ctl_get_hardware_id, nullptr, 0, buffer, sizeof buffer, &n);
            check(ok == (step.id != nullptr) && n == (step.id != nullptr ? (units + 1) * 2 : 0) &&
                      std::memcmp(buffer, step.id != nullptr ? step.id : u"", n) == 0,
                  t, step.what);
            break;
        }
        }
    }
    disconnect(&one);
}

// Short and refused writes count from the client's next read of a record,
// on every filter device, each spoiling one request only.
void test_short_write(testctl_link* link) {
    const char* t = "short write";
    const int declared[] = {1, 11};
    check(fresh(link, declared, 2), t, "reset and declare");
    client one = connect(1);
    HANDLE mouse = open_device(11);
    set_filter(one.device, 0xFFFF);
    check(!testctl_short_write(link, 0, 5, false), t, "write number 0 is refused");
    enum step_kind { shorten, refuse, push, read, write_key, write_mouse };
    static const struct {
        step_kind kind;
        DWORD value;  // shorten, refuse: the write number; write: the bytes offered
        DWORD bytes;  // shorten: the most taken; read, write: the bytes reported (~0u: failed)
        int delivered;
        const char* what;
    } steps[] = {
        {shorten, 1, 0, 0, "a short write waits for a read"},
        {write_key, 12, 12, 1, "a write before any read is whole"},
        {read, 0, 0, 0, "a read that finds nothing"},
        {write_key, 12, 12, 1, "does not start the count"},
        {push, 0, 0, 0, "a stroke"},
        {read, 0, 12, 0, "read"},
        {write_key, 12, 0, 0, "the first write after it takes nothing"},
        {write_key, 12, 12, 1, "and the next is whole"},
        {shorten, 2, 13, 0, "two short writes"},
        {shorten, 2, 5, 0, "due at one request"},
        {refuse, 3, 0, 0, "a refusal"},
        {shorten, 3, 0, 0, "and a short write at one request"},
        {shorten, 4, 30, 0, "more than is offered"},
        {shorten, 6, 11, 0, "a byte short of a key"},
        {push, 0, 0, 0, "a stroke"},
        {read, 0, 12, 0, "read"},
        {write_key, 24, 24, 2, "counting has begun"},
        {write_key, 24, 5, 0, "the fewer bytes hold"},
        {write_key, 24, ~0u, 0, "the refusal wins"},
        {write_mouse, 24, 24, 1, "a mouse write counts too, taking all"},
        {write_key, 25, 24, 2, "a write between them is whole"},
        {write_key, 12, 11, 0, "a byte short"},
        {write_key, 12, 12, 1, "then whole again"},
    };
    testctl_delivered got[8];
    take_all(link, got, 8);
    static uint8_t records[48] = {0, 0, 0x1E};
    for (const auto& step : steps) {
        uint8_t buffer[24];
        DWORD n = 0;
        bool ok = true;
        switch (step.kind) {
        case shorten: ok = testctl_short_write(link, step.value, step.bytes, false); break;
        case refuse: ok = testctl_short_write(link, step.value, 0, true); break;
        case push: ok = testctl_push_key(link, 1, 0x30, 0, 0); break;
        case read: ok = control(one.device, ctl_read, nullptr, 0, buffer, 12, &n) && n == step.bytes; break;
        case write_key:
        case write_mouse: {
            HANDLE target = step.kind == write_key ? one.device : mouse;
            bool done = control(target, ctl_write, records, step.value, nullptr, 0, &n);
            ok = step.bytes == ~0u ? !done : done && n == step.bytes;
            break;
        }
        }
        check(ok, t, step.what);
        check(take_all(link, got, 8) == step.delivered, t, step.what);
    }
    for (int i = 0; i < TESTCTL_SHORT_WRITES; ++i) testctl_short_write(link, 1, 0, true);
    check(!testctl_short_write(link, 1, 0, true), t, "a full table takes no more");
    check(testctl_reset(link) && testctl_declare_device(link, 1, u"id", 2), t, "reset");
    client again = connect(1);
    set_filter(again.device, 0xFFFF);
    testctl_push_key(link, 1, 0x30, 0, 0);
    uint8_t buffer[12];
    DWORD n = 0;
    control(again.device, ctl_read, nullptr, 0, buffer, 12, &n);
    check(control(again.device, ctl_write, records, 12, nullptr, 0, &n) && n == 12, t, "a reset forgets what waited");
    disconnect(&one);
    disconnect(&again);
    CloseHandle(mouse);
}

// A full record keeps its oldest requests and counts the rest; taking makes
// room again, and a reset clears the count.
void test_request_overflow(testctl_link* link) {
    const char* t = "record overflow";
    const int declared[] = {1};
    check(fresh(link, declared, 1), t, "reset and declare");
    HANDLE one = open_device(1);
    const int extra = 3;
    for (int i = 0; i < TESTCTL_REQUEST_RECORDS + extra; ++i) set_filter(one, static_cast<uint16_t>(i));
    testctl_status status;
    check(testctl_get_status(link, &status) && status.requests_lost == extra, t,
          "the requests past the end are counted");
    static testctl_request got[1024];
    int total = 0;
    bool in_order = true;
    for (int n; (n = take_requests(link, got, 1024)) > 0; total += n) {
        for (int i = 0; i < n; ++i) in_order = in_order && got[i].filter == static_cast<uint16_t>(total + i);
    }
    check(total == TESTCTL_REQUEST_RECORDS && in_order, t, "the oldest are kept in order");
    set_filter(one, 0xABCD);
    check(take_requests(link, got, 4) == 1 && got[0].filter == 0xABCD, t, "taking makes room");
    check(testctl_reset(link) && testctl_get_status(link, &status) && status.requests_lost == 0, t,
          "a reset clears the count");
    CloseHandle(one);
}

// A burst fills the keyboard's queue and tops it up at every read until its
// count is typed, press and release by turns; what the client writes then is
// counted and not kept, and every request is counted.
void test_burst(testctl_link* link) {
    const char* t = "burst";
    const int declared[] = {1, 2, 11};
    check(fresh(link, declared, 3), t, "reset and declare");
    client one = connect(1);
    client two = connect(2);
    set_filter(one.device, 0xFFFF);
    check(!testctl_burst_key(link, 2, 5, 0x1E, 0), t, "a keyboard with no filter takes no burst");
    check(!testctl_burst_key(link, 11, 5, 0x1E, 0), t, "a mouse takes no burst");
    check(!testctl_burst_key(link, 1, 0, 0x1E, 0), t, "an empty burst is refused");
    check(!testctl_burst_key(link, 4, 5, 0x1E, 0), t, "an undeclared keyboard takes no burst");
    const uint32_t count = 3 * 64 + 5;
    check(testctl_burst_key(link, 1, count, 0x1E, 0), t, "a burst longer than the queue");
    testctl_status status;
    check(testctl_get_status(link, &status) && status.queued[0] == 64 && status.burst_left == count - 64 &&
              signalled(one.event) && !signalled(two.event),
          t, "the queue is full at once and its event set");
    uint32_t reads = 0;
    uint32_t in_turn = 0;
    uint8_t record[24];
    DWORD n = 0;
    while (control(one.device, ctl_read, nullptr, 0, record, 12, &n) && n == 12) {
        uint16_t state = static_cast<uint16_t>(record[4] | (record[5] << 8));
        in_turn += record[2] == 0x1E && state == (reads % 2);
        ++reads;
        control(one.device, ctl_write, record, 12, nullptr, 0, &n);
        if (reads > count) break;
    }
    check(reads == count && in_turn == count, t, "every stroke once, press and release by turns");
    check(!signalled(one.event), t, "the event clears when the burst is done");
    testctl_delivered got[8];
    check(testctl_get_status(link, &status) && status.delivered == count && status.waiting == 0 &&
              take_all(link, got, 8) == 0,
          t, "what was written is counted, not kept");
    check(status.pushed == count && status.consumed == count && status.burst_left == 0, t, "pushed and read");
    // Two requests a stroke; two events, the filter and the read that found nothing.
    check(status.requests_total == 2 * count + 4, t, "every request counted");
    check(testctl_burst_key(link, 1, 1000, 0x1E, 0), t, "a burst");
    disconnect(&one);
    check(testctl_get_status(link, &status) && status.burst_left == 0 && status.delivered == count + 64, t,
          "the client's close drops what the burst had left");
    check(testctl_reset(link) && testctl_declare_device(link, 1, u"id", 2), t, "reset");
    client again = connect(1);
    set_filter(again.device, 0xFFFF);
    testctl_push_key(link, 1, 0x30, 0, 0);
    control(again.device, ctl_read, nullptr, 0, record, 12, &n);
    control(again.device, ctl_write, record, 12, nullptr, 0, &n);
    check(take_all(link, got, 8) == 1 && testctl_get_status(link, &status) && status.requests_total == 4, t,
          "a reset keeps delivered records again and counts afresh");
    disconnect(&two);
    disconnect(&again);
}

int64_t counter_now() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

// The driver's times are read on the program's clock: each falls between the
// program's readings before and after the request that made it.
void test_times(testctl_link* link) {
    const char* t = "times";
    const int declared[] = {1, 2};
    check(fresh(link, declared, 2), t, "reset and declare");
    client one = connect(1);
    set_filter(one.device, 0xFFFF);
    int64_t typed = 0, unfiltered = 0;
    int64_t before_push = counter_now();
    check(testctl_push_key_timed(link, 1, 0x1E, 0, 0, &typed), t, "a timed push on a filtered keyboard");
    int64_t after_push = counter_now();
    check(before_push <= typed && typed <= after_push, t, "the push's time is the program's clock");
    check(testctl_push_key_timed(link, 2, 0x30, 0, 0, &unfiltered), t, "a timed push on an unfiltered keyboard");
    int64_t after_unfiltered = counter_now();
    uint8_t record[12];
    DWORD n = 0;
    check(control(one.device, ctl_read, nullptr, 0, record, 12, &n) && n == 12, t, "read");
    int64_t after_read = counter_now();
    check(control(one.device, ctl_write, record, 12, nullptr, 0, &n), t, "write");
    int64_t after_write = counter_now();
    testctl_delivered got[8];
    check(take_all(link, got, 8) == 2 && got[0].device == 2 && unfiltered <= got[0].time &&
              got[0].time <= after_unfiltered && got[1].device == 1 && after_read <= got[1].time &&
              got[1].time <= after_write,
          t, "a delivered record's time is when it reached the system");
    testctl_request requests[8];
    int count = testctl_take_requests(link, requests, 8);
    check(count == 4 && requests[2].code == ctl_read && after_unfiltered <= requests[2].time &&
              requests[2].time <= after_read && requests[3].code == ctl_write && after_read <= requests[3].time &&
              requests[3].time <= after_write,
          t, "a request's time is when it was served");
    disconnect(&one);
}

}  // namespace

int main() {
    testctl_link link = {};
    if (!testctl_open(&link)) {
        std::printf("FAIL the test driver's control device %s does not open\n", TESTCTL_DOS_NAME);
        return 3;
    }
    test_open(&link);
    test_hardware_id(&link);
    test_write(&link);
    test_capture(&link);
    test_event_registration(&link);
    test_end(&link);
    test_full_store(&link);
    test_request_fields(&link);
    test_request_order(&link);
    test_request_end(&link);
    test_request_overflow(&link);
    test_id_change(&link);
    test_short_write(&link);
    test_burst(&link);
    test_times(&link);
    testctl_status status = {};
    testctl_get_status(&link, &status);
    testctl_reset(&link);
    testctl_close(&link);
    std::printf("%d checks, %d failed%s\n", checks_run, checks_failed,
                status.event_fallback > 0 ? " (events referenced through the client's process)" : "");
    return checks_failed == 0 ? 0 : 1;
}
