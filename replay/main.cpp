#include <cstdio>
#include <cstring>

#include "app/entry.h"
#include "driver/sim.h"
#include "keymap/config.h"
#include "keymap/key_table.h"
#include "keymap/text.h"
#include "replay/replay_main.h"
#include "replay/session.h"
#include "replay/utf8_path.h"

namespace {

constexpr int status_replay_error = 2;
constexpr size_t path_units = 4096;
constexpr size_t delivered_line_size = 40;

const char usage[] = "usage: padmap-replay [--delivered FILE] SESSION [CONFIG]\n";

struct arguments {
    const char* delivered;  // null: print after padmap's output
    const char* session;
    const char* config;  // null: identify mode
};

bool parse_arguments(int argc, char** argv, arguments* out) {
    out->delivered = nullptr;
    out->session = nullptr;
    out->config = nullptr;
    int at = 1;
    if (at < argc && std::strcmp(argv[at], "--delivered") == 0) {
        if (at + 1 >= argc) return false;
        out->delivered = argv[at + 1];
        at += 2;
    }
    int left = argc - at;
    if (left < 1 || left > 2) return false;
    // Anything else that looks like an option is a mistake, not a file name.
    for (int i = at; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0) return false;
    }
    out->session = argv[at];
    if (left == 2) out->config = argv[at + 1];
    return true;
}

bool draw_stroke(void* context, sim_typed* next) {
    session_stroke s;
    if (!session_next(static_cast<session_reader*>(context), &s)) return false;
    next->device = s.device;
    next->key = s.key;
    return true;
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

bool copy_to_stdout(std::FILE* from) {
    std::rewind(from);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
        if (std::fwrite(buffer, 1, got, stdout) != got) return false;
    }
    return std::ferror(from) == 0;
}

}  // namespace

int replay_main(int argc, char** argv) {
    arguments args;
    if (!parse_arguments(argc, argv, &args)) {
        std::fputs(usage, stderr);
        return status_replay_error;
    }

    session_devices devices;
    session_reader reader;
    char message[session_message_size];
    reset_key_table();
    if (!session_check(args.session, &devices, message, sizeof message)) {
        std::fprintf(stderr, "padmap-replay: %s\n", message);
        return status_replay_error;
    }

    char16_t config_path[path_units] = {};
    if (args.config != nullptr && utf8_to_utf16(args.config, config_path, path_units) + 1 >= path_units) {
        std::fprintf(stderr, "padmap-replay: the configuration path is too long\n");
        return status_replay_error;
    }

    delivered_output delivered = {nullptr, false};
    if (args.delivered != nullptr) {
        delivered.file = open_utf8_path(args.delivered, "w");
        if (delivered.file == nullptr) {
            std::fprintf(stderr, "padmap-replay: cannot open %s for writing\n", args.delivered);
            return status_replay_error;
        }
        std::setvbuf(delivered.file, nullptr, _IONBF, 0);
    } else {
        // The strokes of a long session do not fit in memory; they wait in a
        // temporary file until padmap's own output is complete.
        delivered.file = std::tmpfile();
        if (delivered.file == nullptr) {
            std::fprintf(stderr,
                         "padmap-replay: cannot create a temporary file for the delivered "
                         "strokes; use --delivered FILE\n");
            return status_replay_error;
        }
    }

    if (!session_open(&reader, args.session)) {
        std::fclose(delivered.file);
        std::fprintf(stderr, "padmap-replay: %s: cannot open the session file\n", args.session);
        return status_replay_error;
    }

    sim_reset();
    reset_key_table();
    reset_config();
    for (int n = 1; n <= device_count; ++n) {
        const session_device& d = devices.device[n - 1];
        if (d.declared) sim_declare_device(n, d.has_id ? d.id : nullptr);
    }
    sim_set_source(draw_stroke, &reader);
    sim_set_sink(write_delivered, &delivered);

    const char16_t program[] = u"padmap";
    const char16_t* padmap_argv[] = {program, config_path, nullptr};
    int status = padmap_main(args.config != nullptr ? 2 : 1, padmap_argv);

    // padmap's process would end here, taking with it what it deliberately
    // left open after a failed load.
    sim_reset();
    session_close(&reader);

    // padmap's output is complete before anything of ours follows it, and is
    // not lost if the process ends without the usual flush.
    std::fflush(stdout);
    bool written = !delivered.failed;
    if (args.delivered == nullptr) {
        std::fputs("delivered to the system:\n", stdout);
        if (std::fflush(delivered.file) != 0 || !copy_to_stdout(delivered.file)) written = false;
    }
    if (std::fclose(delivered.file) != 0) written = false;
    std::fflush(stdout);
    if (!written) {
        std::fprintf(stderr, "padmap-replay: writing the delivered strokes failed\n");
        return status_replay_error;
    }
    return status;
}
