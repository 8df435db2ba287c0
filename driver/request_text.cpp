#include "driver/request_text.h"

#include <cstdio>

#include "driver/control_codes.h"

namespace {

const char* request_name(uint32_t code) {
    switch (code) {
    case ctl_set_filter: return "set-filter";
    case ctl_set_event: return "set-event";
    case ctl_write: return "write";
    case ctl_read: return "read";
    case ctl_get_hardware_id: return "get-hardware-id";
    default: return nullptr;
    }
}

}  // namespace

size_t request_text(const request_note& note, char* out, size_t cap) {
    char name[24];
    const char* known = request_name(note.code);
    if (known != nullptr) {
        std::snprintf(name, sizeof name, "%s", known);
    } else {
        std::snprintf(name, sizeof name, "code %08lx", static_cast<unsigned long>(note.code));
    }
    char detail[24] = "";
    if (note.code == ctl_set_filter && note.input_size >= 2) {
        std::snprintf(detail, sizeof detail, " filter %04x", static_cast<unsigned>(note.filter));
    } else if (note.code == ctl_set_event) {
        std::snprintf(detail, sizeof detail, " handle %s", note.handle_names_event ? "event" : "other");
    }
    char result[24];
    if (note.done) {
        std::snprintf(result, sizeof result, "ok %lu", static_cast<unsigned long>(note.returned));
    } else {
        std::snprintf(result, sizeof result, "failed");
    }
    int length = std::snprintf(out, cap, "%d %s in %lu out %lu%s -> %s\n", note.device, name,
                               static_cast<unsigned long>(note.input_size),
                               static_cast<unsigned long>(note.output_size), detail, result);
    if (length < 0) return 0;
    return static_cast<size_t>(length) < cap ? static_cast<size_t>(length) : cap - 1;
}
