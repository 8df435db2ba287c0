#ifndef PADMAP_DRIVER_REQUEST_TEXT_H
#define PADMAP_DRIVER_REQUEST_TEXT_H

#include <cstddef>
#include <cstdint>

// One device-control request as a line of text, the same for every driver
// that records what the program asked of it (the simulated driver and the
// test kernel driver), so two records of one session can be compared:
//
//   DEVICE NAME in IN out OUT [filter FFFF] [handle event|handle other] -> ok RETURNED|failed
//
// NAME is set-filter, set-event, write, read or get-hardware-id (other codes
// as "code 00222444"). The filter is given for set-filter with at least two
// input bytes; the handle field for set-event: "event" when it names one of
// the program's events with zero above its low four bytes.
struct request_note {
    int device;
    uint32_t code;
    uint32_t input_size;
    uint32_t output_size;
    uint16_t filter;          // set-filter: the first two input bytes, little-endian
    bool handle_names_event;  // set-event
    bool done;
    uint32_t returned;
};

// Writes the line with its LF into out (capacity cap, always NUL-terminated).
// Returns the length without the NUL.
size_t request_text(const request_note& note, char* out, size_t cap);

constexpr size_t request_text_size = 128;

#endif
