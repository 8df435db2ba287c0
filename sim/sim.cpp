#include <cstdlib>
#include <cstring>

#include "keymap/text.h"
#include "sim/sim.h"
#include "sim/sim_model.h"

namespace {

void encode_key_record(const key_stroke& key, uint8_t* record) {
    std::memset(record, 0, key_record_size);
    record[2] = static_cast<uint8_t>(key.make_code);
    record[3] = static_cast<uint8_t>(key.make_code >> 8);
    record[4] = static_cast<uint8_t>(key.key_state);
    record[5] = static_cast<uint8_t>(key.key_state >> 8);
    for (int i = 0; i < 4; ++i) record[8 + i] = static_cast<uint8_t>(key.extra_info >> (8 * i));
}

bool next_typed(sim_typed* next) {
    sim_model& model = sim_state();
    if (model.script_next < model.script.size()) {
        *next = model.script[model.script_next++];
        return true;
    }
    return model.source != nullptr && model.source(model.source_context, next);
}

void set_event(os_handle value, bool signalled) {
    sim_handle* event = sim_find_handle(value);
    if (event != nullptr && event->kind == sim_handle_event) sim_signal(event, signalled);
}

}  // namespace

sim_model& sim_state() {
    static sim_model model;
    return model;
}

bool sim_killed() {
    return sim_state().killed;
}

void sim_restart() {
    sim_model& model = sim_state();
    model.killed = false;
    for (sim_device& device : model.devices) {
        device.filter = 0;
        device.head = 0;
        device.queued = 0;
    }
}

void sim_let_time_pass(uint32_t ms) {
    sim_state().now_ms += ms;
}

void sim_type_rest() {
    while (sim_type_next()) {}
}

void sim_publish_keys() {
    sim_state().publishes_keys = true;
}

const published_keys* sim_published_keys() {
    return &sim_state().published;
}

void sim_reset() {
    sim_model& model = sim_state();
    for (sim_device& device : model.devices) {
        device.exists = false;
        device.has_id = false;
        device.id_unterminated = false;
        device.short_reads = false;
        device.held_elsewhere = false;
        device.id.clear();
        device.filter = 0;
        device.event = os_null_handle;
        device.head = 0;
        device.queued = 0;
    }
    for (sim_handle& handle : model.handles) handle = sim_handle{};
    model.next_serial = 0;
    model.open_handles = 0;
    model.signalled_events = 0;
    for (void*& block : model.blocks) {
        std::free(block);
        block = nullptr;
    }
    model.live_blocks = 0;
    model.last_error = 0;
    model.wait_fails = false;
    model.killed = false;
    model.publishes_keys = false;
    reset_published_keys(&model.published);
    model.session_queue = nullptr;
    model.script.clear();
    model.script.shrink_to_fit();
    model.script_next = 0;
    model.source = nullptr;
    model.source_context = nullptr;
    model.sink = nullptr;
    model.said_sink = nullptr;
    model.said_context = nullptr;
    model.text_events = -1;
    model.elevated = false;
    model.sink_context = nullptr;
    model.interrupt_hook = nullptr;
    model.interrupt_context = nullptr;
    model.request_sink = nullptr;
    model.request_sink_context = nullptr;
    model.priority_raises = 0;
    model.last_open_failure = os_open_missing;
    model.quiet_left_ms = 0;
    model.now_ms = 0;
    model.frozen = false;
    model.front_window = 0;
    model.windows_made = 0;
    model.front_askable = false;
    model.front_program.clear();
    model.failure_count = 0;
    model.short_write_count = 0;
    for (int& calls : model.calls) calls = 0;
    model.request_count = 0;
    model.open_count = 0;
}

bool sim_declare_device(int device, const char* id) {
    sim_device* declared = sim_find_device(device);
    if (declared == nullptr) return false;
    declared->exists = true;
    declared->has_id = id != nullptr;
    declared->id = id != nullptr ? utf16_text(id) : std::u16string();
    declared->id_unterminated = false;
    declared->short_reads = false;
    declared->held_elsewhere = false;
    return true;
}

bool sim_omit_id_terminator(int device) {
    sim_device* declared = sim_find_device(device);
    if (declared == nullptr || !declared->exists) return false;
    declared->id_unterminated = true;
    return true;
}

bool sim_hold_elsewhere(int device) {
    sim_device* declared = sim_find_device(device);
    if (declared == nullptr || !declared->exists) return false;
    declared->held_elsewhere = true;
    return true;
}

bool sim_answer_short_reads(int device) {
    sim_device* declared = sim_find_device(device);
    if (declared == nullptr || !declared->exists) return false;
    declared->short_reads = true;
    return true;
}

void sim_set_interrupt_hook(sim_interrupt_hook hook, void* context) {
    sim_state().interrupt_hook = hook;
    sim_state().interrupt_context = context;
}

void sim_set_request_sink(sim_request_sink sink, void* context) {
    sim_state().request_sink = sink;
    sim_state().request_sink_context = context;
}

bool sim_names_event(const sim_request& request) {
    if (request.input_size != 8) return false;
    os_handle value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | request.input[i];
    const sim_handle* event = sim_find_handle(value);
    return value >> 32 == 0 && event != nullptr && event->kind == sim_handle_event;
}

int sim_priority_raises() {
    return sim_state().priority_raises;
}

void sim_type(int device, key_stroke key) {
    sim_state().script.push_back(sim_typed{device, key});
}

void sim_happen(const sim_typed& happening) {
    sim_state().script.push_back(happening);
}

void sim_set_source(sim_source source, void* context) {
    sim_state().source = source;
    sim_state().source_context = context;
}

void sim_set_sink(sim_sink sink, void* context) {
    sim_state().sink = sink;
    sim_state().sink_context = context;
}

bool sim_queue_mouse_record(int device, const uint8_t record[mouse_record_size]) {
    if (device <= keyboard_count || device > device_count) return false;
    if (!sim_find_device(device)->exists) return false;
    return sim_capture(device, record, mouse_record_size);
}

bool sim_fail_at(sim_step step, int occurrence) {
    sim_model& model = sim_state();
    if (model.failure_count == sim_max_failures) return false;
    model.failures[model.failure_count++] = sim_failure{step, occurrence};
    return true;
}

bool sim_short_write_at(int occurrence, uint32_t bytes) {
    sim_model& model = sim_state();
    if (model.short_write_count == sim_max_failures) return false;
    model.short_writes[model.short_write_count++] = sim_short_write{occurrence, bytes};
    return true;
}

int sim_step_calls(sim_step step) {
    if (step < 0 || step >= sim_step_count) return 0;
    return sim_state().calls[step];
}

int sim_open_handles() {
    return sim_state().open_handles;
}

int sim_live_blocks() {
    return sim_state().live_blocks;
}

int sim_request_count() {
    return sim_state().request_count;
}

const sim_request* sim_requests() {
    return sim_state().requests;
}

int sim_open_count() {
    return sim_state().open_count;
}

const char* sim_opened_name(int index) {
    if (index < 0 || index >= sim_state().open_count) return nullptr;
    return sim_state().open_names[index];
}

uint16_t sim_filter(int device) {
    sim_device* found = sim_find_device(device);
    return found != nullptr ? found->filter : 0;
}

void sim_bring_to_front(const char* program) {
    sim_model& model = sim_state();
    // Every window that comes to the front is another, with a number of its own.
    ++model.windows_made;
    model.front_window = program == nullptr ? 0 : 0x10000 + 4 * static_cast<uintptr_t>(model.windows_made);
    model.front_askable = program != nullptr && program[0] != 0;
    model.front_program = model.front_askable ? utf16_text(program) : std::u16string();
}

namespace {

// File names compare as on Windows' file systems: without regard to case
// (ASCII letters are enough for the sessions).
bool watches_file(const sim_handle& watch, const char* file) {
    for (const std::string& name : watch.names) {
        if (same_but_for_case(name.c_str(), file)) return true;
    }
    return false;
}

}  // namespace

int sim_folder_watches() {
    int watches = 0;
    for (const sim_handle& handle : sim_state().handles)
        watches += handle.kind == sim_handle_event && handle.folder_watch;
    return watches;
}

const char* sim_watched_folder(int index) {
    for (const sim_handle& handle : sim_state().handles) {
        if (handle.kind != sim_handle_event || !handle.folder_watch) continue;
        if (index-- == 0) return handle.folder.c_str();
    }
    return nullptr;
}

int sim_keyboard_watches() {
    int watches = 0;
    for (const sim_handle& handle : sim_state().handles)
        watches += handle.kind == sim_handle_event && handle.keyboard_watch;
    return watches;
}

bool sim_attempt(sim_step step) {
    sim_model& model = sim_state();
    int attempt = ++model.calls[step];
    bool fails = false;
    int kept = 0;
    for (int i = 0; i < model.failure_count; ++i) {
        const sim_failure& failure = model.failures[i];
        if (failure.step == step && failure.occurrence <= attempt) {
            fails = fails || failure.occurrence == attempt;
            continue;
        }
        model.failures[kept++] = failure;
    }
    model.failure_count = kept;
    if (fails) model.last_error = sim_failure_error;
    return fails;
}

bool sim_shorten_write(uint32_t* bytes) {
    sim_model& model = sim_state();
    int attempt = model.calls[sim_step_write];
    bool shortened = false;
    int kept = 0;
    for (int i = 0; i < model.short_write_count; ++i) {
        const sim_short_write& limit = model.short_writes[i];
        if (limit.occurrence > attempt) {
            model.short_writes[kept++] = limit;
            continue;
        }
        if (limit.occurrence == attempt && limit.bytes < *bytes) *bytes = limit.bytes;
        shortened = shortened || limit.occurrence == attempt;
    }
    model.short_write_count = kept;
    return shortened;
}

sim_handle* sim_find_handle(os_handle value) {
    if (value == os_null_handle || value == os_invalid_handle) return nullptr;
    sim_handle& handle = sim_state().handles[(value >> 2) % sim_max_handles];
    return handle.kind != sim_handle_free && handle.value == value ? &handle : nullptr;
}

void sim_signal(sim_handle* event, bool signalled) {
    if (event->signalled == signalled) return;
    event->signalled = signalled;
    sim_state().signalled_events += signalled ? 1 : -1;
}

sim_handle* sim_new_handle(sim_handle_kind kind) {
    sim_model& model = sim_state();
    for (int slot = 0; slot < sim_max_handles; ++slot) {
        sim_handle& handle = model.handles[slot];
        if (handle.kind != sim_handle_free) continue;
        // A value names its table slot and a serial that changes with every
        // handle made, so a closed handle stays invalid after its slot is
        // reused. Multiples of 4 as on Windows, within 32 bits for the
        // set-event field.
        model.next_serial = model.next_serial % 0x3FFFFF + 1;
        handle = sim_handle{};
        handle.kind = kind;
        handle.value = (static_cast<os_handle>(model.next_serial) * sim_max_handles + slot) * 4;
        ++model.open_handles;
        return &handle;
    }
    return nullptr;
}

sim_device* sim_find_device(int device) {
    if (device < 1 || device > device_count) return nullptr;
    return &sim_state().devices[device];
}

bool sim_capture(int device, const uint8_t* bytes, uint32_t size) {
    sim_device* target = sim_find_device(device);
    if (target->queued == sim_queue_capacity) return false;
    sim_record& record = target->queue[(target->head + target->queued) % sim_queue_capacity];
    std::memcpy(record.bytes, bytes, size);
    record.size = size;
    ++target->queued;
    set_event(target->event, true);
    return true;
}

bool sim_take(int device, sim_record* record) {
    sim_device* source = sim_find_device(device);
    if (source->queued == 0) return false;
    *record = source->queue[source->head];
    source->head = (source->head + 1) % sim_queue_capacity;
    --source->queued;
    if (source->queued == 0) set_event(source->event, false);
    return true;
}

bool sim_any_pending() {
    for (const sim_device& device : sim_state().devices) {
        if (device.queued > 0) return true;
    }
    return false;
}

bool sim_type_next() {
    sim_typed next;
    if (!next_typed(&next)) return false;
    if (next.kind == sim_typed_interrupt) {
        sim_model& model = sim_state();
        if (model.interrupt_hook != nullptr) model.interrupt_hook(model.interrupt_context);
        return true;
    }
    if (next.kind == sim_typed_id || next.kind == sim_typed_unnoticed_id) {
        sim_device* device = sim_find_device(next.device);
        if (device != nullptr && device->exists) {
            device->has_id = next.id != nullptr;
            device->id = next.id != nullptr ? utf16_text(next.id) : std::u16string();
        }
        if (next.kind == sim_typed_unnoticed_id) return true;
        for (sim_handle& handle : sim_state().handles) {
            if (handle.kind == sim_handle_event && handle.keyboard_watch) sim_signal(&handle, true);
        }
        return true;
    }
    if (next.kind == sim_typed_pause) {
        sim_state().quiet_left_ms += next.pause_ms;
        return true;
    }
    if (next.kind == sim_typed_files) {
        for (sim_handle& handle : sim_state().handles) {
            if (handle.kind == sim_handle_event && handle.folder_watch && next.folder != nullptr &&
                handle.folder == next.folder) {
                sim_signal(&handle, true);
                handle.named_changed = handle.named_changed || next.file == nullptr || watches_file(handle, next.file);
            }
        }
        sim_state().quiet_left_ms += sim_settle_ms;
        return true;
    }
    if (next.kind == sim_typed_front) {
        sim_bring_to_front(next.id);
        return true;
    }
    if (next.kind == sim_typed_crash) {
        sim_state().killed = true;
        return true;
    }
    if (next.kind == sim_typed_notice) {
        notice_queue* queue = sim_state().session_queue;
        if (queue != nullptr) post_notice(queue, static_cast<loop_notice>(next.notice));
        return true;
    }
    if (next.kind == sim_typed_fail_wait) {
        sim_state().wait_fails = true;
        return true;
    }
    if (next.kind == sim_typed_fail_read) {
        sim_fail_at(sim_step_read, sim_step_calls(sim_step_read) + 1);
        for (sim_device& device : sim_state().devices) {
            sim_handle* event = device.filter != 0 ? sim_find_handle(device.event) : nullptr;
            if (event == nullptr) continue;
            sim_signal(event, true);
            break;
        }
        return true;
    }
    if (next.kind == sim_typed_folder_lost) {
        for (sim_handle& handle : sim_state().handles) {
            if (handle.kind != sim_handle_event || !handle.folder_watch || next.folder == nullptr ||
                handle.folder != next.folder) {
                continue;
            }
            sim_signal(&handle, true);
            handle.lost = true;
        }
        return true;
    }
    if (next.kind == sim_typed_freeze || next.kind == sim_typed_thaw) {
        sim_state().frozen = next.kind == sim_typed_freeze;
        return true;
    }
    // Only keyboards that the driver knows produce strokes; anything else is
    // dropped as typed on no device.
    if (next.device < 1 || next.device > keyboard_count) return true;
    const sim_device& keyboard = sim_state().devices[next.device];
    if (!keyboard.exists) return true;
    if (keyboard.filter == 0) {
        sim_deliver(next.device, next.key);
        return true;
    }
    uint8_t record[key_record_size];
    encode_key_record(next.key, record);
    // Typing waits until nothing is pending, so the queue has room unless the
    // program is held; a full queue loses the stroke, as a driver's would.
    sim_capture(next.device, record, key_record_size);
    return true;
}

void sim_deliver(int device, const key_stroke& key) {
    sim_model& model = sim_state();
    if (model.sink != nullptr) model.sink(model.sink_context, device, &key);
}
