#include <cstdio>
#include <cstring>

#include "app/entry.h"
#include "app/file_watch.h"
#include "app/notices.h"
#include "app/platform.h"
#include "app/stop.h"
#include "app/watcher.h"
#include "console/console.h"
#include "driver/control_codes.h"
#include "driver/request_text.h"
#include "keymap/text.h"
#include "replay/replay_main.h"
#include "replay/session.h"
#include "replay/utf8_path.h"
#include "sim/sim.h"

namespace {

constexpr int status_replay_error = 2;
constexpr size_t path_units = 4096;
constexpr size_t delivered_line_size = 40;

const char usage[] = "usage: padmap-replay [--delivered FILE] [--requests FILE] [--steps FILE] SESSION [ARG...]\n";

const char help[] =
    "Runs padmap's own code against a simulated keyboard filter driver that\n"
    "plays the session file SESSION: the keyboards it declares and the keys it\n"
    "types. The ARGs are padmap's arguments: configurations for remap mode, or\n"
    "an option such as --monitor; without any padmap runs in identify mode.\n"
    "Prints what padmap prints, then what reached the rest of the system.\n"
    "\n"
    "  --delivered FILE  write what reached the system to FILE as it happens\n"
    "  --requests FILE   write every request padmap made of the driver to FILE\n"
    "  --steps FILE      write, for each line of the session that makes something\n"
    "                    happen and for its end, how many requests padmap had made\n"
    "                    of a device by then: a run on another driver can follow\n"
    "                    the same steps\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Exit status: padmap's own; 2 for a bad session file or bad usage.\n";

struct arguments {
    const char* delivered;  // null: print after padmap's output
    const char* requests;   // null: not written
    const char* steps;      // null: not written
    const char* session;
    int padmap_argc;  // padmap's own arguments, none for identify mode
    char** padmap_argv;
};

bool is_option(const char* word, const char* name) {
    return std::strcmp(word, name) == 0;
}

bool parse_arguments(int argc, char** argv, arguments* out) {
    *out = arguments{nullptr, nullptr, nullptr, nullptr, 0, nullptr};
    int at = 1;
    for (;;) {
        const char** file = nullptr;
        if (at < argc && is_option(argv[at], "--delivered")) file = &out->delivered;
        if (at < argc && is_option(argv[at], "--requests")) file = &out->requests;
        if (at < argc && is_option(argv[at], "--steps")) file = &out->steps;
        if (file == nullptr) break;
        if (at + 1 >= argc || *file != nullptr) return false;
        *file = argv[at + 1];
        at += 2;
    }
    if (at >= argc) return false;
    // Anything else before SESSION that looks like an option is a mistake,
    // not a file name; after it, it is padmap's own.
    if (std::strncmp(argv[at], "--", 2) == 0) return false;
    out->session = argv[at];
    out->padmap_argc = argc - at - 1;
    out->padmap_argv = argv + at + 1;
    return true;
}

struct session_source {
    const char* session_path;
    session_reader reader;
    // The folder and name of the last file a directive changed, as padmap's
    // watch names them.
    std::string changed_folder;
    std::string changed_file;
    std::FILE* requests;            // null: not written
    std::FILE* steps;               // null: not written
    unsigned long device_requests;  // requests on a device so far (a real driver sees no others)
    bool held;                      // between a freeze and its thaw
    bool failed;
    // Short and refused writes whose count starts at padmap's next read of
    // a stroke; the session check keeps them within the table.
    session_item waiting_writes[session_max_write_lines];
    int waiting;
};

// An editor's save: in place, or a new file renamed over the old one, or the
// file removed. Says on standard error what failed.
bool change_file(session_source* source, const session_item& item) {
    bool ok = change_session_file(source->session_path, item);
    if (!ok) console_printf(console_err, "padmap-replay: the session cannot change %s\n", item.file);
    return ok;
}

void notice(sim_typed* next, loop_notice what) {
    next->kind = sim_typed_notice;
    next->notice = what;
}

// A pause takes no time for the simulated driver, but a wait of padmap's with
// a time limit shorter than it runs out in it. Short and refused writes wait
// for the next read.
bool draw_item(void* context, sim_typed* next) {
    session_source* source = static_cast<session_source*>(context);
    session_item item;
    for (;;) {
        if (!session_next(&source->reader, &item)) {
            // The end thaws a held padmap, which takes what waits before it
            // comes back for more and meets the end.
            if (source->held) {
                source->held = false;
                return false;
            }
            // The driver stops delivering strokes here, which a record made by
            // another driver must show at the same place; the steps end with
            // this point too.
            if (source->requests != nullptr && std::fputs("end of session\n", source->requests) < 0) {
                source->failed = true;
            }
            if (source->steps != nullptr && std::fprintf(source->steps, "%lu\n", source->device_requests) < 0) {
                source->failed = true;
            }
            return false;
        }
        if (source->steps != nullptr && std::fprintf(source->steps, "%lu\n", source->device_requests) < 0) {
            source->failed = true;
        }
        if (item.kind != session_short_write) break;
        if (source->waiting < session_max_write_lines) source->waiting_writes[source->waiting++] = item;
    }
    *next = sim_typed{item.device, item.key, sim_typed_key, nullptr, 0};
    switch (item.kind) {
    case session_key: break;
    case session_interrupt: next->kind = sim_typed_interrupt; break;
    case session_id:
    case session_unnoticed_id:
        next->kind = item.kind == session_id ? sim_typed_id : sim_typed_unnoticed_id;
        next->id = item.has_id ? item.id : nullptr;
        break;
    case session_pause:
        next->kind = sim_typed_pause;
        next->pause_ms = item.pause_ms;
        break;
    case session_freeze:
        next->kind = sim_typed_freeze;
        source->held = true;
        break;
    case session_thaw:
        next->kind = sim_typed_thaw;
        source->held = false;
        break;
    case session_short_write: break;
    case session_save:
    case session_replace:
    case session_remove:
        if (!change_file(source, item)) source->failed = true;
        next->kind = sim_typed_files;
        source->changed_folder = utf8_text(folder_of(utf16_text(item.file).c_str()).c_str());
        source->changed_file = utf8_text(name_in_folder(utf16_text(item.file).c_str()).c_str());
        next->folder = source->changed_folder.c_str();
        next->file = source->changed_file.c_str();
        break;
    case session_front:
        next->kind = sim_typed_front;
        next->id = item.has_id ? item.id : nullptr;
        break;
    case session_fail_wait: next->kind = sim_typed_fail_wait; break;
    case session_fail_read: next->kind = sim_typed_fail_read; break;
    case session_crash: next->kind = sim_typed_crash; break;
    case session_lock: notice(next, notice_lock); break;
    case session_unlock: notice(next, notice_unlock); break;
    case session_suspend: notice(next, notice_suspend); break;
    case session_wake: notice(next, notice_wake); break;
    case session_control_reload: notice(next, notice_reload); break;
    case session_control_pause: notice(next, notice_pause); break;
    case session_control_resume: notice(next, notice_resume); break;
    case session_control_quit: notice(next, notice_quit); break;
    }
    return true;
}

// The exit code of a key loop the session kills, as Task Manager's End task
// leaves it.
constexpr uint32_t killed_exit_code = 1;

// padmapw's watcher, after the session killed the key loop: the driver drops
// what the dead process captured, the watcher releases what the loop's table
// lists and says so, and the loop starts again a second later (the replay's
// clock; padmapw waits as its restart line says). After the fifth end in ten
// minutes it starts no more, and the rest of the session is typed on plain
// keyboards. Returns the last run's status.
int watch_key_loop(int status, int argc, const char16_t* const* argv, const padmap_log_output& log) {
    restart_record restarts;
    reset_restart_record(&restarts);
    while (sim_killed()) {
        sim_restart();
        std::string said = loop_ended_line(killed_exit_code);
        release_published(sim_published_keys(), &said);
        int64_t delay = restart_delay(&restarts, os_now_ms());
        said += restart_line(delay);
        console_print(console_out, said.c_str());
        if (delay < 0) {
            sim_type_rest();
            break;
        }
        sim_let_time_pass(1000);
        status = padmap_run(argc, argv, log);
    }
    return status;
}

// The console's stop request, as Ctrl+C would make it.
void interrupt_padmap(void*) {
    request_stop();
}

// The writes that wait for a read are counted from the one after it.
void arm_waiting_writes(session_source* source) {
    int done = sim_step_calls(sim_step_write);
    for (int i = 0; i < source->waiting; ++i) {
        const session_item& write = source->waiting_writes[i];
        int occurrence = done + static_cast<int>(write.write_number);
        if (write.write_refused) {
            sim_fail_at(sim_step_write, occurrence);
        } else {
            sim_short_write_at(occurrence, write.write_bytes);
        }
    }
    source->waiting = 0;
}

void note_request(void* context, const sim_request* request) {
    session_source* source = static_cast<session_source*>(context);
    if (request->device != 0) ++source->device_requests;
    if (request->code == ctl_read && request->done && request->returned > 0) arm_waiting_writes(source);
    if (source->requests == nullptr) return;
    request_note note = {request->device,
                         request->code,
                         request->input_size,
                         request->output_size,
                         static_cast<uint16_t>(request->input[0] | (request->input[1] << 8)),
                         sim_names_event(*request),
                         request->done,
                         request->returned};
    char line[request_text_size];
    size_t length = request_text(note, line, sizeof line);
    if (std::fwrite(line, 1, length, source->requests) != length) source->failed = true;
}

struct delivered_output {
    std::FILE* file;
    bool failed;
};

// Each line is written with one call: with --delivered the file is unbuffered,
// so a reader watching it sees every stroke as soon as it reaches the system.
void write_delivered(void* context, int device, const key_stroke* key) {
    delivered_output* out = static_cast<delivered_output*>(context);
    char line[delivered_line_size];
    int length = std::snprintf(line, sizeof line, "%d %04x %04x %08lx\n", device, static_cast<unsigned>(key->make_code),
                               static_cast<unsigned>(key->key_state), static_cast<unsigned long>(key->extra_info));
    if (std::fwrite(line, 1, static_cast<size_t>(length), out->file) != static_cast<size_t>(length)) {
        out->failed = true;
    }
}

// A text typed or a program handed to be started, among the strokes.
void write_said(void* context, const char* said) {
    delivered_output* out = static_cast<delivered_output*>(context);
    std::string line = std::string(said) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), out->file) != line.size()) out->failed = true;
}

bool copy_to_console(std::FILE* from) {
    std::rewind(from);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, from)) > 0) console_write(console_out, buffer, got);
    return std::ferror(from) == 0;
}

// An unbuffered file for the path, for a reader that watches it; null after
// the message when it cannot be made.
std::FILE* open_output(const char* path) {
    std::FILE* file = open_utf8_path(path, "w");
    if (file == nullptr) {
        console_printf(console_err, "padmap-replay: cannot open %s for writing\n", path);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace

int replay_main(int argc, char** argv) {
    if (argc == 2 && (is_option(argv[1], "--help") || is_option(argv[1], "-h") || is_option(argv[1], "/?"))) {
        console_print(console_out, usage);
        console_print(console_out, help);
        return 0;
    }
    if (argc == 2 && is_option(argv[1], "--version")) {
        console_print(console_out, "padmap-replay 1.0\n");
        return 0;
    }
    arguments args;
    if (!parse_arguments(argc, argv, &args)) {
        console_print(console_err, usage);
        return status_replay_error;
    }

    session_devices devices;
    char message[session_message_size];
    if (!session_check(args.session, &devices, message, sizeof message)) {
        console_printf(console_err, "padmap-replay: %s\n", message);
        return status_replay_error;
    }

    // padmap's program name, then its arguments as UTF-16.
    utf16_args padmap_args = args_from_utf8(args.padmap_argc, args.padmap_argv);
    padmap_args.text.insert(padmap_args.text.begin(), u"padmap");
    padmap_args.argv.clear();
    for (const std::u16string& arg : padmap_args.text) {
        if (arg.size() + 1 >= path_units) {
            console_print(console_err, "padmap-replay: the configuration path is too long\n");
            return status_replay_error;
        }
        padmap_args.argv.push_back(arg.c_str());
    }
    padmap_args.argv.push_back(nullptr);

    delivered_output delivered = {nullptr, false};
    if (args.delivered != nullptr) {
        delivered.file = open_output(args.delivered);
        if (delivered.file == nullptr) return status_replay_error;
    } else {
        // The strokes of a long session do not fit in memory; they wait in a
        // temporary file until padmap's own output is complete.
        delivered.file = std::tmpfile();
        if (delivered.file == nullptr) {
            console_print(console_err,
                          "padmap-replay: cannot create a temporary file for the delivered strokes; use "
                          "--delivered FILE\n");
            return status_replay_error;
        }
    }
    session_source source = {};
    source.session_path = args.session;
    if (args.requests != nullptr) {
        source.requests = open_output(args.requests);
        if (source.requests == nullptr) {
            std::fclose(delivered.file);
            return status_replay_error;
        }
    }
    if (args.steps != nullptr) {
        source.steps = open_output(args.steps);
        if (source.steps == nullptr) {
            std::fclose(delivered.file);
            if (source.requests != nullptr) std::fclose(source.requests);
            return status_replay_error;
        }
    }

    if (!session_open(&source.reader, args.session)) {
        std::fclose(delivered.file);
        if (source.requests != nullptr) std::fclose(source.requests);
        if (source.steps != nullptr) std::fclose(source.steps);
        console_printf(console_err, "padmap-replay: %s: cannot open the session file\n", args.session);
        return status_replay_error;
    }

    sim_reset();
    reset_stop();
    for (int n = 1; n <= device_count; ++n) {
        const session_device& d = devices.device[n - 1];
        if (d.declared) sim_declare_device(n, d.has_id ? d.id : nullptr);
    }
    sim_set_source(draw_item, &source);
    sim_set_sink(write_delivered, &delivered);
    sim_set_said_sink(write_said, &delivered);
    sim_set_elevated(devices.elevated);
    sim_set_interrupt_hook(interrupt_padmap, nullptr);
    sim_set_request_sink(note_request, &source);

    // The replay's output is padmap's whole log: the end of the run waits
    // for standard output as long as it takes, where padmap gives up after a
    // while so that a stop never hangs on a blocked console.
    padmap_log_output log = padmap_console_log();
    log.drain_limit_ms = -1;
    int padmap_argc = static_cast<int>(padmap_args.text.size());
    sim_publish_keys();
    int status = watch_key_loop(padmap_run(padmap_argc, padmap_args.argv.data(), log), padmap_argc,
                                padmap_args.argv.data(), log);

    // padmap's process would end here, taking with it what it deliberately
    // left open after a failed load.
    sim_reset();
    session_close(&source.reader);

    // padmap's output is complete before anything of ours follows it, and is
    // not lost if the process ends without the usual flush.
    console_flush(console_out);
    bool written = !delivered.failed && !source.failed;
    if (args.delivered == nullptr) {
        console_print(console_out, "delivered to the system:\n");
        if (std::fflush(delivered.file) != 0 || !copy_to_console(delivered.file)) written = false;
    }
    if (std::fclose(delivered.file) != 0) written = false;
    if (source.requests != nullptr && std::fclose(source.requests) != 0) written = false;
    if (source.steps != nullptr && std::fclose(source.steps) != 0) written = false;
    console_flush(console_out);
    if (!written) {
        console_print(console_err, "padmap-replay: writing the delivered strokes or the requests failed\n");
        return status_replay_error;
    }
    return status;
}
