#include <algorithm>
#include <string>

#include "app/platform.h"
#include "keymap/text.h"
#include "sim/sim_model.h"

struct os_keyboard_watch {
    os_handle event;
};

os_keyboard_watch* os_watch_keyboards() {
    sim_handle* event = sim_new_handle(sim_handle_event);
    if (event == nullptr) return nullptr;
    event->keyboard_watch = true;
    return new os_keyboard_watch{event->value};
}

os_handle os_keyboard_watch_event(const os_keyboard_watch* watch) {
    return watch != nullptr ? watch->event : os_null_handle;
}

bool os_unwatch_keyboards(os_keyboard_watch* watch) {
    if (watch == nullptr) return true;
    os_close_handle(watch->event);
    delete watch;
    return true;
}

uintptr_t os_foreground_window() {
    return sim_state().front_window;
}

bool os_window_program(uintptr_t window, char16_t* name, size_t cap) {
    const sim_model& model = sim_state();
    if (window == 0 || window != model.front_window || !model.front_askable) return false;
    if (model.front_program.size() + 1 > cap) return false;
    std::copy(model.front_program.begin(), model.front_program.end(), name);
    name[model.front_program.size()] = 0;
    return true;
}

struct os_folder_watch {
    os_handle event;
};

os_folder_watch* os_watch_folder(const char16_t* folder, const char16_t* const* names, int count) {
    if (folder == nullptr || names == nullptr || count < 1 || count > os_folder_watch_names) return nullptr;
    for (int i = 0; i < count; ++i) {
        size_t units = names[i] != nullptr ? std::char_traits<char16_t>::length(names[i]) : 0;
        if (units == 0 || units > os_folder_name_units) return nullptr;
    }
    if (sim_attempt(sim_step_folder_watch)) return nullptr;
    sim_handle* event = sim_new_handle(sim_handle_event);
    if (event == nullptr) return nullptr;
    event->folder_watch = true;
    event->folder = utf8_text(folder);
    for (int i = 0; i < count; ++i) event->names.push_back(utf8_text(names[i]));
    return new os_folder_watch{event->value};
}

os_handle os_folder_watch_handle(const os_folder_watch* watch) {
    return watch != nullptr ? watch->event : os_null_handle;
}

os_folder_news os_take_folder_changes(os_folder_watch* watch) {
    sim_handle* event = watch != nullptr ? sim_find_handle(watch->event) : nullptr;
    if (event == nullptr || event->lost || !os_reset_event(watch->event)) return os_folder_lost;
    bool named = event->named_changed;
    event->named_changed = false;
    return named ? os_folder_named : os_folder_others;
}

bool os_folder_watch_current(const os_folder_watch* watch, const char16_t*) {
    const sim_handle* event = watch != nullptr ? sim_find_handle(watch->event) : nullptr;
    return event != nullptr && !event->lost;
}

bool os_unwatch_folder(os_folder_watch* watch) {
    if (watch == nullptr) return true;
    os_close_handle(watch->event);
    delete watch;
    return true;
}

uint64_t os_now_ms() {
    return sim_state().now_ms;
}

published_keys* os_published_keys() {
    sim_model& model = sim_state();
    return model.publishes_keys ? &model.published : nullptr;
}

void os_unpublish_keys(published_keys*) {}

bool os_raise_priority() {
    ++sim_state().priority_raises;
    return true;
}
