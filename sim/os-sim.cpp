#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/control_codes.h"
#include "driver/os.h"
#include "keymap/text.h"
#include "sim/sim_model.h"

namespace {

const char device_prefix[] = "\\\\.\\interception";

constexpr uint32_t error_invalid_handle = 6;
constexpr uint32_t error_invalid_parameter = 87;

// The device number the driver gives a name, 0 for a name it does not own.
int device_for_name(const char* name) {
    size_t prefix = sizeof device_prefix - 1;
    if (std::strncmp(name, device_prefix, prefix) != 0) return 0;
    const char* digits = name + prefix;
    if (digits[0] < '0' || digits[0] > '9' || digits[1] < '0' || digits[1] > '9' || digits[2] != 0) return 0;
    int index = (digits[0] - '0') * 10 + (digits[1] - '0');
    return index < device_count ? index + 1 : 0;
}

void record_request(int device, uint32_t code, const void* in, uint32_t in_size, uint32_t out_size, bool done,
                    uint32_t returned) {
    sim_model& model = sim_state();
    bool kept = model.request_count < sim_max_requests;
    if (!kept && model.request_sink == nullptr) return;
    sim_request spare;
    sim_request& request = kept ? model.requests[model.request_count++] : spare;
    request = sim_request{device, code, {}, in_size, out_size, done, returned};
    if (in != nullptr) std::memcpy(request.input, in, in_size < sizeof request.input ? in_size : sizeof request.input);
    if (model.request_sink != nullptr) model.request_sink(model.request_sink_context, &request);
}

bool set_filter(sim_device& device, const uint8_t* in, uint32_t in_size) {
    if (in == nullptr || in_size < 2) return false;
    device.filter = static_cast<uint16_t>(in[0] | (in[1] << 8));
    return true;
}

bool set_event(sim_device& device, const uint8_t* in, uint32_t in_size) {
    if (sim_attempt(sim_step_set_event)) return false;
    if (in == nullptr || in_size < 8) return false;
    os_handle value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
    sim_handle* event = sim_find_handle(value);
    if (event == nullptr || event->kind != sim_handle_event) return false;
    device.event = value;
    sim_signal(event, device.queued > 0);
    return true;
}

// Takes every whole record of the device's kind, in order, to the system;
// a write told to be short takes only the records within its bytes.
bool write_records(int device, const uint8_t* in, uint32_t in_size, uint32_t* taken) {
    // A failed write still ends a short one due at the same request.
    bool failed = sim_attempt(sim_step_write);
    uint32_t limit = in_size;
    bool shortened = sim_shorten_write(&limit);
    if (failed) return false;
    if (in == nullptr && in_size > 0) return false;
    uint32_t size = device <= keyboard_count ? key_record_size : mouse_record_size;
    uint32_t count = limit / size;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = in + i * size;
        key_stroke key = {0, 0, 0};
        if (size == key_record_size) {
            key.make_code = static_cast<uint16_t>(record[2] | (record[3] << 8));
            key.key_state = static_cast<uint16_t>(record[4] | (record[5] << 8));
            key.extra_info = static_cast<uint32_t>(record[8]) | (static_cast<uint32_t>(record[9]) << 8) |
                             (static_cast<uint32_t>(record[10]) << 16) | (static_cast<uint32_t>(record[11]) << 24);
        }
        sim_deliver(device, key);
    }
    *taken = shortened ? limit : count * size;
    return true;
}

// Hands over as many whole queued records as the buffer holds. With nothing
// queued the request still succeeds, with 0 bytes: the driver completes reads
// at once instead of holding them until input comes, and the client treats an
// empty answer as no stroke. A device told to answer short drops the last
// byte of what it hands over.
bool read_records(int device, uint8_t* out, uint32_t out_size, uint32_t* filled) {
    if (sim_attempt(sim_step_read)) return false;
    if (out == nullptr && out_size > 0) return false;
    uint32_t size = device <= keyboard_count ? key_record_size : mouse_record_size;
    uint32_t used = 0;
    sim_record record;
    while (out_size - used >= size && sim_take(device, &record)) {
        std::memcpy(out + used, record.bytes, size);
        used += size;
    }
    if (used > 0 && sim_find_device(device)->short_reads) --used;
    *filled = used;
    return true;
}

// The id as UTF-16LE with its terminator (unless told to leave it off), cut to
// the caller's buffer.
bool read_hardware_id(const sim_device& device, uint8_t* out, uint32_t out_size, uint32_t* filled) {
    if (sim_attempt(sim_step_hardware_id)) return false;
    if (!device.has_id) return false;
    if (out == nullptr && out_size > 0) return false;
    uint32_t units = static_cast<uint32_t>(device.id.size()) + (device.id_unterminated ? 0 : 1);
    uint32_t bytes = units * 2 < out_size ? units * 2 : out_size;
    for (uint32_t i = 0; i < bytes; ++i) {
        char16_t unit = i / 2 < device.id.size() ? device.id[i / 2] : 0;
        out[i] = static_cast<uint8_t>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
    }
    *filled = bytes;
    return true;
}

// The position of the lowest signalled event among the handles, or count.
uint32_t first_signalled(uint32_t count, const os_handle* handles) {
    if (sim_state().signalled_events == 0) return count;
    for (uint32_t i = 0; i < count; ++i) {
        const sim_handle* event = sim_find_handle(handles[i]);
        if (event->kind == sim_handle_event && event->signalled) return i;
    }
    return count;
}

}  // namespace

os_handle os_open_device(const char* name) {
    sim_model& model = sim_state();
    if (model.open_count < sim_max_opens) {
        std::snprintf(model.open_names[model.open_count++], sim_name_size, "%s", name);
    }
    model.last_open_failure = os_open_missing;
    if (sim_attempt(sim_step_open)) return os_invalid_handle;
    int device = device_for_name(name);
    if (device == 0 || !model.devices[device].exists) return os_invalid_handle;
    if (model.devices[device].held_elsewhere) {
        model.last_open_failure = os_open_in_use;
        return os_invalid_handle;
    }
    sim_handle* handle = sim_new_handle(sim_handle_device);
    if (handle == nullptr) return os_invalid_handle;
    handle->device = device;
    return handle->value;
}

os_open_failure os_last_open_failure() {
    return sim_state().last_open_failure;
}

os_handle os_create_event() {
    if (sim_attempt(sim_step_event)) return os_null_handle;
    sim_handle* handle = sim_new_handle(sim_handle_event);
    return handle != nullptr ? handle->value : os_null_handle;
}

bool os_device_control(os_handle device, uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                       uint32_t* returned) {
    const sim_handle* handle = sim_find_handle(device);
    int number = handle != nullptr && handle->kind == sim_handle_device ? handle->device : 0;
    uint32_t bytes = 0;
    bool done = false;
    if (number != 0) {
        sim_device& target = sim_state().devices[number];
        const uint8_t* input = static_cast<const uint8_t*>(in);
        uint8_t* output = static_cast<uint8_t*>(out);
        if (code == ctl_set_filter) {
            done = set_filter(target, input, in_size);
        } else if (code == ctl_set_event) {
            done = set_event(target, input, in_size);
        } else if (code == ctl_write) {
            done = write_records(number, input, in_size, &bytes);
        } else if (code == ctl_read) {
            done = read_records(number, output, out_size, &bytes);
        } else if (code == ctl_get_hardware_id) {
            done = read_hardware_id(target, output, out_size, &bytes);
        }
    }
    if (!done) bytes = 0;
    record_request(number, code, in, in_size, out_size, done, bytes);
    if (returned != nullptr) *returned = bytes;
    return done;
}

uint32_t os_wait_for_any(uint32_t count, const os_handle* handles, uint32_t timeout_ms) {
    if (sim_attempt(sim_step_wait)) return os_wait_failed;
    sim_model& model = sim_state();
    if (count == 0 || count > 64 || handles == nullptr) {
        model.last_error = error_invalid_parameter;
        return os_wait_failed;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (sim_find_handle(handles[i]) != nullptr) continue;
        model.last_error = error_invalid_handle;
        return os_wait_failed;
    }
    // The user types the next stroke only while the program waits with
    // nothing pending, or at once while it is held; strokes that reach the
    // system directly keep coming. A real wait on events that nobody will
    // signal would block for ever: the end of the script is said instead.
    uint32_t waited_ms = 0;
    for (;;) {
        if (!model.frozen) {
            uint32_t position = first_signalled(count, handles);
            if (position < count) return position;
            if (sim_any_pending()) return os_wait_over;
            if (model.quiet_left_ms > 0) {
                if (timeout_ms != os_wait_infinite && timeout_ms - waited_ms <= model.quiet_left_ms) {
                    model.quiet_left_ms -= timeout_ms - waited_ms;
                    model.now_ms += timeout_ms - waited_ms;
                    return os_wait_timeout;
                }
                waited_ms += model.quiet_left_ms;
                model.now_ms += model.quiet_left_ms;
                model.quiet_left_ms = 0;
            }
        } else {
            // A held program lets no time run out; the quiet passes without it.
            model.now_ms += model.quiet_left_ms;
            model.quiet_left_ms = 0;
        }
        bool typed = sim_type_next();
        if (model.killed) return os_wait_killed;
        if (model.wait_fails) {
            model.wait_fails = false;
            model.last_error = sim_failure_error;
            return os_wait_failed;
        }
        if (!typed) {
            // The end of the script lets a held program go on.
            if (model.frozen) {
                model.frozen = false;
                continue;
            }
            return os_wait_over;
        }
    }
}

bool os_set_event(os_handle value) {
    sim_handle* event = sim_find_handle(value);
    if (event == nullptr || event->kind != sim_handle_event) return false;
    sim_signal(event, true);
    return true;
}

bool os_reset_event(os_handle value) {
    sim_handle* event = sim_find_handle(value);
    if (event == nullptr || event->kind != sim_handle_event) return false;
    sim_signal(event, false);
    return true;
}

bool os_close_handle(os_handle value) {
    sim_handle* handle = sim_find_handle(value);
    if (handle == nullptr) return false;
    if (handle->kind == sim_handle_event) {
        sim_signal(handle, false);
        for (sim_device& device : sim_state().devices) {
            if (device.event == value) device.event = os_null_handle;
        }
    }
    *handle = sim_handle{};
    --sim_state().open_handles;
    return true;
}

// The simulated process heap keeps its blocks in a table: like a real heap it
// goes away with the process, which sim_reset stands for.
void* os_heap_alloc(size_t size, bool zero) {
    if (sim_attempt(sim_step_alloc)) return nullptr;
    sim_model& model = sim_state();
    for (void*& slot : model.blocks) {
        if (slot != nullptr) continue;
        size_t bytes = size > 0 ? size : 1;
        slot = zero ? std::calloc(1, bytes) : std::malloc(bytes);
        if (slot != nullptr) ++model.live_blocks;
        return slot;
    }
    return nullptr;
}

void os_heap_free(void* block) {
    if (block == nullptr) return;
    sim_model& model = sim_state();
    for (void*& slot : model.blocks) {
        if (slot != block) continue;
        std::free(slot);
        slot = nullptr;
        --model.live_blocks;
        return;
    }
}

uint32_t os_last_error() {
    return sim_state().last_error;
}

// The words Windows has for the errors the simulated driver gives.
size_t os_error_text(uint32_t error, char* out, size_t cap) {
    const char* text = error == sim_failure_error         ? "A device attached to the system is not functioning."
                       : error == error_invalid_handle    ? "The handle is invalid."
                       : error == error_invalid_parameter ? "The parameter is incorrect."
                       : error == os_error_no_memory
                           ? "Not enough memory resources are available to process this command."
                           : nullptr;
    int length = text != nullptr ? std::snprintf(out, cap, "%s", text)
                                 : std::snprintf(out, cap, "error %lu", static_cast<unsigned long>(error));
    return length < 0 ? 0 : std::min(static_cast<size_t>(length), cap - 1);
}
