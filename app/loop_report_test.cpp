// A pad plugged in after remap mode started is told to padmapw's tray once,
// with the state the loop reported by then; pads there at the start are not.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/file_watch.h"
#include "keymap/text.h"
#include "tests/support/program_run.h"

namespace {

const char pad_id[] = "HID\\VID_1A86&PID_E026&MI_00";
const char spare_id[] = "HID\\VID_046D&PID_C31C";

struct tray {
    loop_report report;
    std::string told;  // what the callbacks were told, a line each
};

// The tray as padmapw starts it, listening with these callbacks.
void open_tray(tray* to, void (*changed)(void*), void (*arrived)(void*, const char*)) {
    to->report.keyboards = 0;
    to->report.paused = false;
    to->report.refused = 0;
    to->report.changed = changed;
    to->report.enrolled = nullptr;
    to->report.arrived = arrived;
    to->report.context = to;
}

void on_arrived(void* context, const char* file) {
    auto* to = static_cast<tray*>(context);
    to->told += std::string(file) + ", " + std::to_string(to->report.keyboards.load()) + " keyboards, " +
                (to->report.paused.load() ? "paused" : "remapping") + "\n";
}

sim_typed plug(int device, const char* id, sim_typed_kind kind = sim_typed_id) {
    sim_typed t = {};
    t.device = device;
    t.kind = kind;
    t.id = id;
    return t;
}

sim_typed notice(loop_notice what) {
    sim_typed t = {};
    t.kind = sim_typed_notice;
    t.notice = what;
    return t;
}

const sim_typed press_a = {2, key_stroke{0x1E, 0, 0}};

struct report_case {
    const char* name;
    const char* pad_at_start;  // slot 2's id at the start
    std::vector<sim_typed> script;
    const char* told;  // FILE: the configuration's path
};

const report_case cases[] = {
    {"there at the start, then plugged in again elsewhere: no news",
     pad_id,
     {press_a, plug(2, spare_id), plug(3, pad_id)},
     ""},
    {"its first press before the system's news, then plugged in again: news once",
     spare_id,
     {plug(2, pad_id, sim_typed_unnoticed_id), press_a, plug(2, pad_id), plug(2, spare_id), plug(3, pad_id)},
     "FILE, 1 keyboards, remapping\n"},
    {"plugged in while paused", spare_id, {notice(notice_pause), plug(2, pad_id)}, "FILE, 0 keyboards, paused\n"},
};

TEST(LoopReport, APadPluggedInAfterTheStartIsToldOnce) {
    const std::string config = write_config(std::string(pad_id) + "\nA B\n");
    for (const report_case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_reset();
        sim_declare_device(2, c.pad_at_start);
        sim_declare_device(3, spare_id);
        tray to;
        open_tray(&to, nullptr, on_arrived);
        run_options options;
        options.report = &to.report;
        EXPECT_EQ(0, run_program(c.script, config, options).status);
        std::string expected = c.told;
        if (!expected.empty()) expected.replace(0, 4, config);
        EXPECT_EQ(expected, to.told);
    }
    std::remove(config.c_str());
}

void on_changed(void* context) {
    auto* to = static_cast<tray*>(context);
    to->told += "refused " + std::to_string(to->report.refused.load()) + "\n";
}

// A save the loop refused is reported until a save of the file loads.
TEST(LoopReport, ARefusedSaveIsReportedUntilTheFileLoads) {
    const std::string good = std::string(pad_id) + "\nA B\n";
    const std::string config = write_config(good);
    const std::vector<std::string> saves = {"", " \n", good + "B C\n"};
    const std::string folder = utf8_text(folder_of(utf16_text(config.c_str()).c_str()).c_str());
    sim_typed saved = {};
    saved.kind = sim_typed_files;
    saved.folder = folder.c_str();
    const std::vector<sim_typed> script(saves.size(), saved);
    sim_reset();
    sim_declare_device(2, pad_id);
    tray to;
    open_tray(&to, on_changed, nullptr);
    run_options options;
    options.report = &to.report;
    options.before_typed = [&](size_t typed) { std::ofstream(config, std::ios::binary) << saves[typed]; };
    EXPECT_EQ(0, run_program(script, config, options).status);
    EXPECT_EQ("refused 0\nrefused 1\nrefused 0\n", to.told);
    std::remove(config.c_str());
}

}  // namespace
