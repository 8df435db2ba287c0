// A configuration saved while padmap runs replaces the layout of its keyboard
// from the next stroke on, except for keys held across the save, which keep
// the layout they were pressed under until released. Random sessions with
// saves at random points, checked against a model of which layout each
// stroke must use, and against what reaches the system: nothing left held,
// nothing released that padmap did not press.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/file_watch.h"
#include "engine/translate.h"
#include "keymap/config.h"
#include "keymap/config_check.h"
#include "keymap/text.h"
#include "tests/support/program_run.h"

namespace {

const char pad_id[] = "HID\\VID_1A86&PID_E026&MI_00";
const char other_pad_id[] = "HID\\VID_0C45&PID_7663&MI_00";

// The layouts a session saves, in turn; the first is the one padmap starts
// with. No output is a key the sessions type, so every key pressed on the
// system is either typed and passed on, or padmap's own output.
const char* const variants[] = {
    "F1 B\nF2 Backspace\nF3 C-C\n",
    "F1 S-C-Z\nF2 A,B,C\nF3 Enter\n",
    "",
    "F1 user1\n#e05b A\nF3 rA-Right,C-Home\nF2 X\n",
    "f1 Enter\nF3 C-V,Enter\n#e05b S-B\nF5 Num7\n",
};
constexpr int variant_count = sizeof variants / sizeof variants[0];

const uint16_t typed_keys[] = {0x3B, 0x3C, 0x3D, 0x3F, 0x10, 0xE05B};

std::string file_text(int variant) {
    return std::string(pad_id) + "\n" + variants[variant];
}

// Each variant as padmap reads it, for what its translation of a stroke is,
// and what padmap prints when it reloads it: its echo and what --check finds
// ("@FILE@" standing for the file's name).
struct variant_layouts {
    config loaded[variant_count];
    std::string report[variant_count];
    variant_layouts() {
        for (int v = 0; v < variant_count; ++v) {
            std::string text = file_text(v);
            testing::internal::CaptureStdout();
            load_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &loaded[v]);
            report[v] = "reloaded @FILE@\n" + testing::internal::GetCapturedStdout();
            static config_check check;
            check_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &check);
            for (const config_finding& finding : check.findings) {
                report[v] += "@FILE@:" + std::to_string(finding.line) + ": " + finding.message + "\n";
            }
        }
    }
};

const variant_layouts& layouts_of_variants() {
    static const variant_layouts all;
    return all;
}

// The log of one stroke under the variant's layout.
std::string expected_log(int variant, key_stroke key) {
    stroke_log log;
    static held_outputs held;
    reset_held_outputs(&held);
    static engine_actions out;
    clear_actions(&out);
    translate_stroke(&layouts_of_variants().loaded[variant].keys, key, output_target{1, &held, &out}, "", &log);
    return std::string(log.text, log.length);
}

struct planned {
    sim_typed typed;
    int save = -1;         // the variant written before this item, -1 for a stroke
    bool rename = false;   // written to a new file and renamed over the old
    std::string expected;  // what padmap prints for the item
};

// A random session on the pad (1) and the main keyboard (2), with saves, and
// what padmap must print for each item by the model: a key held across a save
// keeps the layout of its press.
std::vector<planned> random_session(std::mt19937& random, const std::string& folder) {
    std::vector<planned> items;
    int current = 0;
    int loaded_variant = 0;
    std::map<uint16_t, int> held;  // key -> the layout it was pressed under
    int length = static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i) {
        planned item;
        if (random() % 6 == 0) {
            current = static_cast<int>(random() % variant_count);
            item.save = current;
            item.rename = random() % 2 == 0;
            item.typed = sim_typed{0, {0, 0, 0}, sim_typed_files};
            item.typed.folder = folder.c_str();
            if (current != loaded_variant) {
                loaded_variant = current;
                item.expected = layouts_of_variants().report[current];
            }
            items.push_back(item);
            continue;
        }
        uint16_t code = typed_keys[random() % 6];
        if (random() % 5 == 0) {
            item.typed = sim_typed{2, stroke_of(code, random() % 2 == 1)};
            items.push_back(item);
            continue;
        }
        auto down = held.find(code);
        bool release = down != held.end() && random() % 2 == 0;
        int layout = down != held.end() ? down->second : current;
        if (down == held.end()) held[code] = current;
        if (release) held.erase(code);
        item.typed = sim_typed{1, stroke_of(code, release)};
        item.expected = expected_log(layout, item.typed.key);
        items.push_back(item);
    }
    // The keys still held are let go, each under the layout of its press.
    for (const auto& key : held) {
        planned item;
        item.typed = sim_typed{1, stroke_of(key.first, true)};
        item.expected = expected_log(key.second, item.typed.key);
        items.push_back(item);
    }
    return items;
}

void write_file(const std::string& path, const std::string& text, bool rename) {
    std::string target = rename ? path + ".new" : path;
    std::ofstream(target, std::ios::binary) << text;
    if (rename) std::rename(target.c_str(), path.c_str());
}

TEST(Reload, SavesAtRandomPointsKeepEveryHeldKeysLayout) {
    const std::string config = write_config(file_text(0));
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    int reloads = 0, held_across = 0;
    for (int seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(static_cast<uint32_t>(seed));
        write_file(config, file_text(0), false);
        std::vector<planned> items = random_session(random, folder);
        std::vector<sim_typed> script;
        for (const planned& item : items) script.push_back(item.typed);
        run_options options;
        options.before_typed = [&](size_t index) {
            if (items[index].save >= 0) write_file(config, file_text(items[index].save), items[index].rename);
        };
        sim_reset();
        sim_declare_device(1, pad_id);
        sim_declare_device(2, other_pad_id);
        program_run run = run_program(script, config, options);
        ASSERT_EQ(run.status, 0);
        expect_nothing_left();
        std::vector<std::string> parts = output_parts(run);
        ASSERT_EQ(parts.size(), items.size() + 1);
        for (size_t i = 0; i < items.size(); ++i) {
            std::string expected = items[i].expected;
            reloads += expected.find("@FILE@") != std::string::npos;
            for (size_t at; (at = expected.find("@FILE@")) != std::string::npos;) expected.replace(at, 6, config);
            EXPECT_EQ(parts[i + 1], expected) << "item " << i;
        }
        EXPECT_EQ(check_outputs_balance(run, script, 1), "");
        if (HasFailure()) return;
        std::map<uint16_t, bool> down;
        for (const planned& item : items) {
            if (item.save >= 0) {
                for (const auto& key : down) held_across += key.second;
                continue;
            }
            if (item.typed.device == 1) down[lookup_code(item.typed.key)] = !(item.typed.key.key_state & key_state_up);
        }
    }
    // The sessions must put a save under a held key to the test, many times.
    EXPECT_GT(reloads, 100);
    EXPECT_GT(held_across, 50);
}

}  // namespace

namespace {

const char main_id[] = "ACPI\\VEN_PNP&DEV_0303";

sim_typed key_on(int device, uint16_t code, bool release) {
    return sim_typed{device, stroke_of(code, release)};
}

// file: the name of the file of folder that changed; null for any that
// padmap watches.
sim_typed files_changed(const std::string& folder, const char* file = nullptr) {
    sim_typed t = {};
    t.kind = sim_typed_files;
    t.folder = folder.c_str();
    t.file = file;
    return t;
}

// A save padmap cannot use keeps the layout in use, and padmap says why in
// one line; a save of the same content says nothing.
TEST(Reload, ASaveThatCannotBeUsedKeepsTheLayout) {
    const std::string config = write_config(std::string(pad_id) + "\nF1 B\n");
    const std::string other = write_config(std::string(other_pad_id) + "\nF1 C\n", "-other");
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    const std::string kept = " (the layout stays as it was)\n";
    // clang-format off
    const struct {
        const char* what;
        std::string content;  // empty with remove: the file is gone
        bool remove;
        std::string said;
    } rows[] = {
        {"removed", "", true, "not reloaded " + config + ": it cannot be read" + kept},
        {"emptied", "", false, "not reloaded " + config + ": it holds no hardware id" + kept},
        {"only white space", " \r\n\t\n", false, "not reloaded " + config + ": it holds no hardware id" + kept},
        {"an id of 500 characters", std::string(500, 'x') + "\nF1 C\n", false,
         "not reloaded " + config + ": its hardware id is 500 characters or longer" + kept},
        {"larger than padmap reads again", std::string(pad_id) + "\n" + std::string(reload_max_bytes, ' '), false,
         "not reloaded " + config + ": it cannot be read" + kept},
        {"the other file's keyboard", std::string(other_pad_id) + "\nF1 D\n", false,
         "not reloaded " + config + ": " + other + " names the same keyboard" + kept},
        {"the same content", std::string(pad_id) + "\nF1 B\n", false, ""},
        {"the same content in other bytes, which is a change", std::string(pad_id) + "\r\nF1 B\r\n", false,
         "reloaded " + config + "\nF1->B\n"},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        write_file(config, std::string(pad_id) + "\nF1 B\n", false);
        run_options options;
        options.args = {other};
        options.before_typed = [&](size_t index) {
            if (index != 1) return;
            if (r.remove) {
                std::remove(config.c_str());
            } else {
                write_file(config, r.content, false);
            }
        };
        sim_reset();
        sim_declare_device(1, pad_id);
        sim_declare_device(2, other_pad_id);
        program_run run =
            run_program({key_on(1, 0x3B, false), files_changed(folder), key_on(1, 0x3B, true)}, config, options);
        ASSERT_EQ(run.status, 0);
        std::vector<std::string> parts = output_parts(run);
        ASSERT_EQ(parts.size(), 4u);
        EXPECT_EQ(parts[2], r.said);
        // The held key's release goes by its press either way; a new press
        // would show the layout in use, which only the last row changes.
        EXPECT_EQ(describe(run.delivered), "1 0030 0000 00000000\n1 0030 0001 00000000\n");
        expect_nothing_left();
    }
}

// A file that names another keyboard takes the capture with it: the keyboard
// it named before is let go (with the outputs it held), the one it names now
// is captured. One watch serves the files of one folder, and only the file
// that changed is read again.
TEST(Reload, TheCaptureFollowsAFileThatNamesAnotherKeyboard) {
    const std::string config = write_config(std::string(pad_id) + "\nF1 B\n");
    const std::string other = write_config(std::string(other_pad_id) + "\nF2 C\n", "-other");
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    run_options options;
    options.args = {other};
    options.before_typed = [&](size_t index) {
        if (index == 1) write_file(config, std::string(main_id) + "\nF1 D\n", true);
    };
    sim_reset();
    sim_declare_device(1, pad_id);
    sim_declare_device(2, other_pad_id);
    sim_declare_device(3, main_id);
    const std::vector<sim_typed> script = {key_on(1, 0x3B, false), files_changed(folder), key_on(1, 0x3B, true),
                                           key_on(3, 0x3B, false), key_on(3, 0x3B, true), key_on(2, 0x3C, false)};
    int watches = -1;
    options.on_end = [&] { watches = sim_folder_watches(); };
    program_run run = run_program(script, config, options);
    ASSERT_EQ(run.status, 0);
    std::vector<std::string> parts = output_parts(run);
    ASSERT_EQ(parts.size(), script.size() + 1);
    EXPECT_EQ(parts[2], "reloaded " + config + "\nF1->D\n");
    EXPECT_EQ(parts[4], config + ": DOWN pressed key=F1 003b -> 0020: 0020 down-\n");
    EXPECT_EQ(describe(run.delivered),
              "1 0030 0000 00000000\n"  // F1 on the pad, before the save
              "1 0030 0001 00000000\n"  // the pad is let go: its output is released
              "1 003b 0001 00000000\n"  // and its release goes straight on
              "3 0020 0000 00000000\n"  // the main keyboard is now named
              "3 0020 0001 00000000\n"
              "2 002e 0000 00000000\n"
              "2 002e 0001 00000000\n");
    EXPECT_EQ(0, sim_filter(1));
    EXPECT_EQ(0xFFFF, sim_filter(3));
    EXPECT_EQ(1, watches) << "one watch for the folder of both files";
    expect_nothing_left();
}

// Only the configuration files of a folder count: padmap's log written beside
// them is no save, and a file's name counts in any case, as Windows' file
// systems take it.
TEST(Reload, OnlyTheConfigurationFilesOfItsFolderCount) {
    const std::string config = write_config(std::string(pad_id) + "\nF1 B\n");
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    std::string upper_name = utf8_text(name_in_folder(utf16_text(config.c_str()).c_str()).c_str());
    for (char& c : upper_name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    run_options options;
    options.before_typed = [&](size_t index) {
        if (index == 0) write_file(config, std::string(pad_id) + "\nF1 C\n", false);
    };
    sim_reset();
    sim_declare_device(1, pad_id);
    const std::vector<sim_typed> script = {
        files_changed(folder, "padmap.log"),       key_on(1, 0x3B, false), key_on(1, 0x3B, true),
        files_changed(folder, upper_name.c_str()), key_on(1, 0x3B, false), key_on(1, 0x3B, true)};
    program_run run = run_program(script, config, options);
    ASSERT_EQ(run.status, 0);
    std::vector<std::string> parts = output_parts(run);
    ASSERT_EQ(parts.size(), script.size() + 1);
    EXPECT_EQ(parts[1], "") << "the log's change is no save";
    EXPECT_EQ(parts[4], "reloaded " + config + "\nF1->C\n");
    EXPECT_EQ(describe(run.delivered),
              "1 0030 0000 00000000\n"
              "1 0030 0001 00000000\n"
              "1 002e 0000 00000000\n"
              "1 002e 0001 00000000\n");
    expect_nothing_left();
}

// The folder and the name of a configuration's path, as the watch takes them.
TEST(Reload, APathSplitsIntoItsFolderAndName) {
    const struct {
        const char16_t* path;
        const char16_t* folder;
        const char16_t* name;
    } rows[] = {
        {u"pad.cfg", u".", u"pad.cfg"},
        {u"pads/pad.cfg", u"pads", u"pad.cfg"},
        {u"C:\\pads\\pad.cfg", u"C:\\pads", u"pad.cfg"},
        {u"C:\\pad.cfg", u"C:\\", u"pad.cfg"},
        {u"C:pad.cfg", u"C:", u"pad.cfg"},
        {u"/pad.cfg", u"/", u"pad.cfg"},
        {u"\\\\server\\share\\pad.cfg", u"\\\\server\\share", u"pad.cfg"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(utf8_text(r.path));
        EXPECT_EQ(utf8_text(folder_of(r.path).c_str()), utf8_text(r.folder));
        EXPECT_EQ(utf8_text(name_in_folder(r.path).c_str()), utf8_text(r.name));
    }
}

sim_typed pause_of(uint32_t ms) {
    sim_typed t = {};
    t.kind = sim_typed_pause;
    t.pause_ms = ms;
    return t;
}

sim_typed holding(bool freeze) {
    sim_typed t = {};
    t.kind = freeze ? sim_typed_freeze : sim_typed_thaw;
    return t;
}

// padmap reads a changed file once the file has been quiet for
// reload_settle_ms, however often the pad is typed on meanwhile: a stroke
// does not put the reading off. The change comes while padmap is held, so
// that strokes can follow it at once (otherwise the simulated driver gives a
// save a quiet moment of its own); time passes only in the pauses.
TEST(Reload, StrokesWhileAChangeSettlesDoNotPutItsReadingOff) {
    const std::string config = write_config(std::string(pad_id) + "\nF1 B\n");
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    static_assert(reload_settle_ms == 200, "the rows' pauses are set around 200 ms");
    const struct {
        const char* what;
        std::vector<uint32_t> pauses;  // before each tap of F1, from the moment padmap sees the change
        int first_new;                 // the first tap in the new layout; -1: none
    } rows[] = {
        {"a tap every 150 ms", {150, 150, 150}, 1},
        {"a tap every 100 ms: the file is read before the tap at 200 ms", {100, 100, 100}, 1},
        {"a tap every 50 ms", {50, 50, 50, 50, 50, 50}, 3},
        {"a tap every 199 ms", {199, 199}, 1},
        {"two taps at once, then a long pause", {0, 0, 250, 0}, 2},
        {"taps with no time between them: the change still settles at the end", {0, 0, 0}, -1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        write_file(config, std::string(pad_id) + "\nF1 B\n", false);
        std::vector<sim_typed> script = {holding(true), files_changed(folder), holding(false)};
        for (uint32_t pause : r.pauses) {
            if (pause > 0) script.push_back(pause_of(pause));
            script.push_back(key_on(1, 0x3B, false));
            script.push_back(key_on(1, 0x3B, true));
        }
        run_options options;
        options.before_typed = [&](size_t index) {
            if (index == 1) write_file(config, std::string(pad_id) + "\nF1 C\n", false);
        };
        sim_reset();
        sim_declare_device(1, pad_id);
        program_run run = run_program(script, config, options);
        ASSERT_EQ(run.status, 0);
        std::string expected;
        for (int tap = 0; tap < static_cast<int>(r.pauses.size()); ++tap) {
            bool fresh = r.first_new >= 0 && tap >= r.first_new;
            expected +=
                fresh ? "1 002e 0000 00000000\n1 002e 0001 00000000\n" : "1 0030 0000 00000000\n1 0030 0001 00000000\n";
        }
        EXPECT_EQ(describe(run.delivered), expected);
        EXPECT_EQ(run.output.find("reloaded ") != std::string::npos, r.first_new >= 0);
        expect_nothing_left();
    }
}

}  // namespace

namespace {

// A folder whose watch is lost (renamed, its drive gone) or cannot be set up
// is said; padmap watches it again at its slow poll, says so, and reads a
// save made meanwhile.
TEST(Reload, AWatchLostOrNeverSetUpIsSaidAndSetUpAgain) {
    const std::string config = write_config(std::string(pad_id) + "\nF1 B\n");
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    const std::string what = folder + " (" + config + ")";
    const std::string unwatched = ": saves there are not read until padmap can watch it again\n";
    for (bool lost : {true, false}) {
        SCOPED_TRACE(lost ? "lost" : "never set up");
        write_file(config, std::string(pad_id) + "\nF1 B\n", false);
        sim_typed gone = {};
        gone.kind = sim_typed_folder_lost;
        gone.folder = folder.c_str();
        sim_typed quiet = {};
        quiet.kind = sim_typed_pause;
        quiet.pause_ms = keyboard_poll_ms;
        run_options options;
        options.before_typed = [&](size_t index) {
            if (index == 3) write_file(config, std::string(pad_id) + "\nF1 C\n", false);
        };
        sim_reset();
        sim_declare_device(1, pad_id);
        if (!lost) sim_fail_at(sim_step_folder_watch, 1);
        program_run run = run_program({key_on(1, 0x3B, false), lost ? gone : files_changed(folder),
                                       files_changed(folder), quiet, key_on(1, 0x3B, true), key_on(1, 0x3B, false)},
                                      config, options);
        ASSERT_EQ(run.status, 0);
        std::string log = run.output.substr(run.output.find("F1->B\n") + 6);
        EXPECT_EQ(log, (lost ? "" : "cannot watch the folder " + what + unwatched) +
                           "DOWN pressed key=F1 003b -> 0030: 0030 down-\n" +
                           (lost ? "lost the watch of the folder " + what + unwatched : "") + "watching the folder " +
                           what + " again\nreloaded " + config +
                           "\nF1->C\nUP remapping pressed key=F1 003b -> 0030: 0030 up\n"
                           "DOWN pressed key=F1 003b -> 002e: 002e down-\n");
    }
}

}  // namespace
