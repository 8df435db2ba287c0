#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/file_watch.h"
#include "app/front.h"
#include "app/item_actions.h"
#include "app/key_loop.h"
#include "app/notices.h"
#include "app/platform.h"
#include "app/platform_items.h"
#include "app/program_worker.h"
#include "app/session_watch.h"
#include "app/stop.h"
#include "console/console.h"
#include "engine/engine.h"
#include "engine/let_go.h"
#include "engine/published_keys.h"
#include "keymap/text.h"

// Remap mode: the engine and what carries its decisions out on the driver,
// the files and the window in front. Large (a key table per file): it lives
// on the heap.
struct remap_session {
    run_state* run;
    engine core;
    engine_actions actions;
    capture_filters capture;
    file_watch files;
    front_program front;
    os_keyboard_watch* keyboards;
    notice_queue own_notices;
    notice_queue* notices;  // the run's, or own_notices; null when none could be made
    os_session_watch* session;
    // The handles the loop waits on besides the devices: the keyboard watch,
    // the notices, then each folder's watch that still listens; gathered
    // again when one is lost.
    int folder_at[input_max_others];  // the folder of each, -1 for the keyboard watch, -2 for the notices
    os_handle waited[input_max_others];
    int waited_count;
    bool waits_known;
    bool polls;  // the wait's time limit is the slow poll's
    // What the system took of the outputs, for padmapw's watcher; null when
    // there is no watcher. Keys passed on are not in it: when the loop's
    // process ends the driver lets their keyboard go, and their release
    // reaches the system as typed.
    published_keys* published;
    bool tells_arrivals;  // past the run's first look at the keyboards: a keyboard seen now was plugged in
    program_worker* programs;
};

namespace {

// With several files each echo follows a line naming its file; one file
// prints exactly what it always has.
bool load_files(remap_session* remap, int count, const char16_t* const* paths) {
    note_loaded_files(&remap->files, count, paths);
    std::string shown[max_config_files];
    for (int i = 0; i < count; ++i) {
        shown[i] = utf8_text(paths[i]);
        if (count > 1) console_printf(console_out, "%s:\n", shown[i].c_str());
        if (!load_config(paths[i], &remap->core.files[i].layout)) return false;
    }
    start_engine(&remap->core, count, shown);
    // A file any program of the user can write must not start programs as
    // administrator.
    if (os_elevated()) {
        remap->core.programs_refused = true;
        for (int i = 0; i < count; ++i) {
            std::string said = refuse_programs(&remap->core.files[i].layout);
            if (said.empty()) continue;
            if (count > 1) console_printf(console_out, "%s:\n", shown[i].c_str());
            console_write(console_out, said.data(), said.size());
        }
    }
    return true;
}

// A start that failed, said from the worker's thread: the log writer takes
// text from any thread. A log written on the loop's own thread (no writer:
// tests, the fuzzer) would be written from two threads at once: the line is
// dropped there.
void report_program(void* context, const char* text, size_t size) {
    auto* run = static_cast<run_state*>(context);
    if (run->writer != nullptr) log_text(run->writer, text, size);
}

// How long the end of a run waits for programs still to be started.
constexpr int program_finish_ms = 2000;
constexpr char program_worker_left_line[] = "a program was still starting; padmap goes on without waiting for it\n";

// Two files for one keyboard is a mistake: which one would it follow?
bool ids_distinct(const engine& core) {
    for (int later = 1; later < core.file_count; ++later) {
        int earlier = file_naming(&core, core.files[later].layout.configured_hardware_id, later);
        if (earlier < 0 || earlier > later) continue;
        console_printf(console_out, "%s and %s both name the keyboard %s: give each keyboard one configuration\n",
                       core.files[earlier].shown.c_str(), core.files[later].shown.c_str(),
                       utf8_text(core.files[later].layout.configured_hardware_id).c_str());
        return false;
    }
    return true;
}

// padmapw's tray shows what the loop captures.
void report(remap_session* remap) {
    loop_report* to = remap->run->report;
    if (to == nullptr) return;
    int keyboards = 0;
    for (uint16_t filter : remap->capture.filter) keyboards += filter != capture_nothing;
    bool changed = to->keyboards.exchange(keyboards) != keyboards;
    changed = to->paused.exchange(remap->core.paused) != remap->core.paused || changed;
    changed = to->refused.exchange(remap->core.refused) != remap->core.refused || changed;
    if (changed && to->changed != nullptr) to->changed(to->context);
}

// Carries the engine's actions out in order, then hands its log on: after
// the last send.
void carry_out(remap_session* remap) {
    run_state* run = remap->run;
    bool filtered = false;
    for (int i = 0; i < remap->actions.count; ++i) {
        const action& act = remap->actions.list[i];
        if (act.kind == action_filter) {
            apply_filter(run->set, &remap->capture, act.device, act.filter);
            filtered = true;
            continue;
        }
        if (act.kind == action_item) {
            carry_out_item(&remap->core, act, remap->programs, file_folder(&remap->files, act.file), &remap->actions);
            continue;
        }
        stroke out = {};
        out.key = act.key;
        uint32_t bytes = 0;
        // A press is listed before it reaches the system and a release
        // taken off after: a process killed between the two leaves at worst
        // a key listed that is up (released once more), never one down that
        // is not listed.
        bool listed = act.kind == action_send && remap->published != nullptr;
        bool press = !(act.key.key_state & key_state_up);
        if (listed && press) publish_sent(remap->published, act.device, act.key);
        if (send_stroke(run->set, act.device, &out, &bytes) < 1) {
            engine_send_refused(&remap->core, act, bytes, &remap->actions);
            key_stroke up = act.key;
            up.key_state |= key_state_up;
            if (listed && press) publish_sent(remap->published, act.device, up);
        } else if (listed && !press) {
            publish_sent(remap->published, act.device, act.key);
        }
    }
    if (!remap->actions.log.empty()) log_line(run, remap->actions.log.data(), remap->actions.log.size());
    if (filtered) report(remap);
    int arrived = remap->actions.arrived_device;
    loop_report* to = run->report;
    if (arrived != 0 && remap->tells_arrivals && to != nullptr && to->arrived != nullptr) {
        int file = remap->core.keyboard_file[arrived - 1];
        if (file >= 0) to->arrived(to->context, remap->core.files[file].shown.c_str());
    }
}

// Every keyboard slot whose device opened is asked its id, in order.
void check_every_keyboard(remap_session* remap) {
    for (int device = 1; device <= keyboard_count; ++device) {
        if (!device_opened(remap->run->set, device)) continue;
        char16_t id[hardware_id_units];
        bool usable = fetch_hardware_id(remap->run->set, device, id);
        clear_actions(&remap->actions);
        engine_keyboard(&remap->core, device, usable ? id : nullptr, &remap->actions);
        carry_out(remap);
    }
}

void reload_changed(remap_session* remap) {
    file_news news[max_config_files];
    std::vector<uint8_t> bytes[max_config_files];
    read_changed_files(&remap->files, news, bytes);
    clear_actions(&remap->actions);
    note_reloaded(&remap->files, engine_reload(&remap->core, news, &remap->actions));
    carry_out(remap);
    if (remap->actions.check_keyboards) check_every_keyboard(remap);
    report(remap);
}

}  // namespace

namespace {

constexpr int notices_waited = -2;

const char* const notice_lines[notice_kinds] = {
    "the session is locked: every key padmap held is released\n",
    "the session is unlocked\n",
    "the computer goes to sleep: every key padmap held is released\n",
    "the computer woke up\n",
    "the session is disconnected: every key padmap held is released\n",
    "the session is connected again\n",
    "reading every configuration again\n",
    "paused: every keyboard types its own keys until resumed\n",
    "resumed\n",
    "",
    "New configuration: press a key on the keyboard to remap\n",
};

void take_notice(remap_session* remap, loop_notice notice) {
    clear_actions(&remap->actions);
    std::string said = notice_lines[notice];
    switch (notice) {
    case notice_lock:
    case notice_suspend:
    case notice_disconnect: engine_let_go(&remap->core, &remap->actions); break;
    case notice_pause:
        if (!engine_pause(&remap->core, &remap->actions)) said = "padmap is paused already\n";
        break;
    case notice_resume:
        if (!engine_resume(&remap->core, &remap->actions)) said = "padmap is not paused: nothing to resume\n";
        break;
    case notice_quit: request_stop(); break;
    case notice_enroll:
        if (!engine_enroll(&remap->core, &remap->actions)) said = "padmap is paused: resume it first\n";
        break;
    default: break;
    }
    if (!said.empty()) log_line(remap->run, said.data(), said.size());
    carry_out(remap);
    if (notice == notice_reload) {
        // It asks the keyboards and reports what it changed itself.
        read_every_file(&remap->files);
        reload_changed(remap);
        return;
    }
    if (remap->actions.check_keyboards) check_every_keyboard(remap);
    report(remap);
}

void gather_waits(remap_session* remap) {
    int count = 0;
    if (remap->keyboards != nullptr) {
        remap->folder_at[count] = -1;
        remap->waited[count++] = os_keyboard_watch_event(remap->keyboards);
    }
    if (remap->notices != nullptr) {
        remap->folder_at[count] = notices_waited;
        remap->waited[count++] = remap->notices->event;
    }
    for (int k = 0; k < remap->files.folder_count; ++k) {
        if (remap->files.folders[k].watch == nullptr) continue;
        remap->folder_at[count] = k;
        remap->waited[count++] = os_folder_watch_handle(remap->files.folders[k].watch);
    }
    remap->waited_count = count;
    remap->waits_known = true;
}

}  // namespace

remap_wait remap_before_wait(remap_session* remap) {
    if (!remap->waits_known) gather_waits(remap);
    remap_wait wait = {remap->waited, remap->waited_count, keyboard_poll_ms};
    remap->polls = true;
    while (files_settling(&remap->files)) {
        // The quiet is the files', counted from their last change: strokes
        // that come meanwhile do not put the reading off.
        uint64_t quiet_ms = os_now_ms() - remap->files.changed_at;
        if (quiet_ms < reload_settle_ms) {
            wait.limit_ms = reload_settle_ms - static_cast<uint32_t>(quiet_ms);
            remap->polls = false;
            break;
        }
        reload_changed(remap);
    }
    // The wait also ends when a pending key's time runs out.
    uint64_t deadline = engine_deadline(&remap->core);
    if (deadline != no_deadline) {
        uint64_t now = os_now_ms();
        uint64_t left = deadline > now ? deadline - now : 0;
        if (left < wait.limit_ms) {
            wait.limit_ms = static_cast<uint32_t>(left);
            remap->polls = false;
        }
    }
    return wait;
}

// The slow poll: keyboards whose notice was lost, and folders whose watch
// could not be set up or was lost.
void remap_quiet(remap_session* remap) {
    clear_actions(&remap->actions);
    engine_time(&remap->core, os_now_ms(), &remap->actions);
    carry_out(remap);
    if (!remap->polls || files_settling(&remap->files)) return;
    check_every_keyboard(remap);
    std::string said;
    if (rewatch_folders(&remap->files, &said)) remap->waits_known = false;
    if (!said.empty()) log_line(remap->run, said.data(), said.size());
}

void remap_signalled(remap_session* remap, int k) {
    int folder = remap->folder_at[k];
    if (folder == notices_waited) {
        loop_notice taken[notice_queue_size];
        int count = take_notices(remap->notices, taken, notice_queue_size);
        for (int i = 0; i < count; ++i) take_notice(remap, taken[i]);
        return;
    }
    if (folder >= 0) {
        std::string said;
        if (!take_folder_news(&remap->files, folder, &said)) said += folder_watch_left_line;
        if (!said.empty()) log_line(remap->run, said.data(), said.size());
        // A watch that is lost is waited on no more.
        remap->waits_known = remap->files.folders[folder].watch != nullptr;
        return;
    }
    // Reset first: a keyboard that comes while the others are asked is seen
    // at the next wait.
    os_reset_event(remap->waited[k]);
    check_every_keyboard(remap);
}

// Its id is asked at every stroke: the keyboard in a slot can change between
// two strokes.
bool remap_stroke(remap_session* remap, int device, const stroke& received) {
    run_state* run = remap->run;
    if (device < 1 || device > keyboard_count) {
        send_stroke(run->set, device, &received);
        return true;
    }
    char16_t id[hardware_id_units];
    bool usable = fetch_hardware_id(run->set, device, id);
    // The window in front is looked at only when a file has sections, and its
    // program asked only when the window changed.
    if (engine_follows_front(&remap->core) && follow_front(&remap->front)) {
        engine_front(&remap->core, remap->front.known ? remap->front.name : nullptr);
    }
    // padmap's clock decides first: a key whose time ran out before this
    // stroke was read is held before it.
    uint64_t now = os_now_ms();
    clear_actions(&remap->actions);
    engine_time(&remap->core, now, &remap->actions);
    engine_stroke(&remap->core, device, usable ? id : nullptr, received.key, now, &remap->actions);
    carry_out(remap);
    if (remap->actions.enrolled_device != 0) {
        std::string said = "New configuration for the keyboard " + utf8_text(id) + "\n";
        log_line(run, said.data(), said.size());
        loop_report* to = run->report;
        if (to != nullptr && to->enrolled != nullptr) to->enrolled(to->context, id);
    }
    if (remap->actions.check_keyboards) check_every_keyboard(remap);
    return true;
}

int run_remap(run_state* run, int count, const char16_t* const* paths) {
    std::unique_ptr<remap_session> remap(new (std::nothrow) remap_session);
    if (remap == nullptr) {
        console_print(console_out, "padmap: out of memory\n");
        return 1;
    }
    remap->run = run;
    remap->programs = nullptr;
    remap->keyboards = nullptr;
    remap->session = nullptr;
    remap->notices = nullptr;
    remap->waits_known = false;
    remap->polls = true;
    remap->published = nullptr;
    remap->tells_arrivals = false;
    reset_capture(&remap->capture);
    reset_front(&remap->front);
    if (!load_files(remap.get(), count, paths)) return 1;
    if (!ids_distinct(remap->core)) return 1;
    if (!driver_usable(run)) return 1;
    // A loop started again after a crash starts from nothing held: the
    // watcher released what the last one left.
    remap->published = os_published_keys();
    if (remap->published != nullptr) reset_published_keys(remap->published);
    remap->notices = run->notices;
    if (remap->notices == nullptr && open_notice_queue(&remap->own_notices)) remap->notices = &remap->own_notices;
    start_log(run);
    remap->programs = start_program_worker(os_start_program, report_program, run);
    check_every_keyboard(remap.get());
    remap->tells_arrivals = true;
    remap->keyboards = os_watch_keyboards();
    if (remap->notices != nullptr) remap->session = os_watch_session(remap->notices);
    std::string said;
    watch_folders(&remap->files, &said);
    if (!said.empty()) log_line(run, said.data(), said.size());
    reload_changed(remap.get());
    run_outcome outcome = run_key_loop(run, stroke_handler{loop_remap, nullptr, remap.get()});
    if (!unwatch_folders(&remap->files)) log_line(run, folder_watch_left_line, sizeof folder_watch_left_line - 1);
    if (!os_unwatch_keyboards(remap->keyboards)) {
        log_line(run, keyboard_watch_left_line, sizeof keyboard_watch_left_line - 1);
    }
    os_unwatch_session(remap->session);
    // A killed process lets go of nothing: what it held is the watcher's.
    if (outcome.end != run_killed) {
        clear_actions(&remap->actions);
        engine_stop(&remap->core, &remap->actions);
        carry_out(remap.get());
    }
    if (!finish_program_worker(remap->programs, program_finish_ms)) {
        log_line(run, program_worker_left_line, sizeof program_worker_left_line - 1);
    }
    int status = end_run(run, outcome);
    if (remap->notices == &remap->own_notices) close_notice_queue(&remap->own_notices);
    os_unpublish_keys(remap->published);
    return status;
}
