#include "engine/engine.h"
#include "engine/let_go.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// An event as a test writes it:
//   "kbd D ID"     keyboard D was asked and answered ID ("-": no usable id)
//   "down D CODE ID" / "up D CODE ID"   a stroke (code in hex, e0xx for E0)
//   "front NAME"   the program in front ("-": none)
//   "save F TEXT"  file F read again with TEXT ("!": unreadable)
//   "refuse"       the driver did not take the last send
//   "elevated"     padmap runs with administrator rights from here
//   "stop", "let go", "pause", "resume"
// and the actions each gives, one line each: "send D CODE STATE", "pass D
// CODE STATE", "filter D FILTER", "item D FILE ITEM", then the log text as
// it is.
std::string describe(const engine_actions& out) {
    std::string text;
    for (int i = 0; i < out.count; ++i) {
        const action& a = out.list[i];
        char line[64];
        const char* kind = a.kind == action_send ? "send" : a.kind == action_pass ? "pass" : "filter";
        if (a.kind == action_item) {
            std::snprintf(line, sizeof line, "item %d %d %d\n", a.device, a.file, a.item);
        } else if (a.kind == action_filter) {
            std::snprintf(line, sizeof line, "%s %d %x\n", kind, a.device, a.filter);
        } else {
            std::snprintf(line, sizeof line, "%s %d %04x %04x\n", kind, a.device, a.key.make_code, a.key.key_state);
        }
        text += line;
    }
    if (out.check_keyboards) text += "check keyboards\n";
    if (out.enrolled_device != 0) text += "enrolled " + std::to_string(out.enrolled_device) + "\n";
    return text + out.log;
}

std::u16string wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

struct engine_run {
    std::unique_ptr<engine> core{new engine};
    std::unique_ptr<engine_actions> out_space{new engine_actions};
    engine_actions& out = *out_space;
    action last_send = {};
    std::string texts[max_config_files];
    uint64_t now = 0;
};

void start(engine_run* run, const std::vector<std::string>& files) {
    std::string shown[max_config_files];
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string& text = files[i];
        ASSERT_TRUE(
            load_config_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &run->core->files[i].layout));
        shown[i] = "f" + std::to_string(i) + ".cfg";
    }
    start_engine(run->core.get(), static_cast<int>(files.size()), shown);
}

std::string happen(engine_run* run, const std::string& event) {
    engine* core = run->core.get();
    clear_actions(&run->out);
    char word[16] = {}, arg[256] = {};
    int device = 0;
    unsigned code = 0;
    if (std::sscanf(event.c_str(), "kbd %d %255s", &device, arg) == 2) {
        std::u16string id = wide(arg);
        engine_keyboard(core, device, std::string(arg) == "-" ? nullptr : id.c_str(), &run->out);
    } else if (std::sscanf(event.c_str(), "%15s %d %x %255s", word, &device, &code, arg) == 4) {
        key_stroke key = {static_cast<uint16_t>(code & 0xFF),
                          static_cast<uint16_t>((std::string(word) == "up" ? key_state_up : 0) |
                                                ((code & 0xE000) ? key_state_e0 : 0)),
                          0};
        std::u16string id = wide(arg);
        engine_time(core, run->now, &run->out);
        engine_stroke(core, device, std::string(arg) == "-" ? nullptr : id.c_str(), key, run->now, &run->out);
    } else if (event.rfind("front ", 0) == 0) {
        std::u16string program = wide(event.substr(6));
        engine_front(core, event.substr(6) == "-" ? nullptr : program.c_str());
    } else if (event.rfind("save ", 0) == 0 || event.rfind("again ", 0) == 0) {
        // Several files at once are joined by " || "; "again" is a file read
        // again whose content is not new.
        file_news news[max_config_files] = {};
        std::vector<std::string> texts;
        for (size_t from = 0; from != std::string::npos;) {
            size_t end = event.find(" || ", from);
            texts.push_back(event.substr(from, end == std::string::npos ? end : end - from));
            from = end == std::string::npos ? end : end + 4;
        }
        for (const std::string& part : texts) {
            bool saved = part.rfind("save ", 0) == 0;
            size_t at = saved ? 5 : 6;
            int file = part[at] - '0';
            const std::string& text = part.substr(at + 2);
            run->texts[file] = text;
            news[file] = text == "!"
                             ? file_news{file_unreadable, nullptr, 0, saved}
                             : file_news{file_changed, reinterpret_cast<const uint8_t*>(run->texts[file].data()),
                                         run->texts[file].size(), saved};
        }
        engine_reload(core, news, &run->out);
    } else if (std::sscanf(event.c_str(), "wait %d", &device) == 1) {
        run->now += static_cast<uint64_t>(device);
        engine_time(core, run->now, &run->out);
    } else if (event == "refuse") {
        engine_send_refused(core, run->last_send, 0, &run->out);
    } else if (event == "elevated") {
        core->programs_refused = true;
    } else if (event == "stop") {
        engine_stop(core, &run->out);
    } else if (event == "let go") {
        engine_let_go(core, &run->out);
    } else if (event == "pause" || event == "resume" || event == "enroll") {
        bool done = event == "pause"    ? engine_pause(core, &run->out)
                    : event == "resume" ? engine_resume(core, &run->out)
                                        : engine_enroll(core, &run->out);
        if (!done) run->out.log += "nothing to do\n";
    } else {
        ADD_FAILURE() << "unknown event " << event;
    }
    for (int i = 0; i < run->out.count; ++i) {
        if (run->out.list[i].kind == action_send) run->last_send = run->out.list[i];
    }
    return describe(run->out);
}

struct step {
    const char* event;
    const char* actions;
};

struct engine_case {
    const char* name;
    std::vector<std::string> files;
    std::vector<step> steps;
};

const char pad[] = "PAD\nCaps Backspace\nF1 C-C\n";
const char numpad[] = "NUM\nNum1 End\n";
const char tap_hold[] =
    "PAD\nhold-time 300\nCaps Esc\nhold Caps LCtrl\nhold F12 layer(nav)\nF1 C-C\nlayer nav\nF1 Left\n";
const char layered[] =
    "PAD\nF12 layer(nav)\nF11 toggle(media)\nF10 layers-off\nF1 C-C\n"
    "layer nav\nF1 Left\nlayer media\nF1 VolumeUp\nF2 VolumeUp\n";

const char items[] = "PAD\nF1 C-A,\"hi, you\",Enter\nF2 run app.exe --go\nhold F3 open notes.txt\nF3 \"t\"\n";

// clang-format off
const engine_case cases[] = {
    {"keys and a text go in the list's order; a repeat types nothing again, nor does the release", {items},
     {{"down 1 3b PAD", "send 1 001d 0000\nsend 1 001e 0000\nsend 1 001d 0001\nitem 1 0 1\nsend 1 001c 0000\n"
                        "DOWN pressed key=F1 003b -> 001e: lCdown-001e down-lCup-\n"
                        "DOWN pressed key=F1 003b -> \"hi, you\": typed\nDOWN pressed key=F1 003b -> 001c: 001c down-\n"},
      {"down 1 3b PAD", "send 1 001d 0000\nsend 1 001e 0000\nsend 1 001d 0001\nsend 1 001c 0000\n"
                        "DOWN pressed key=F1 003b -> 001e: lCdown-001e down-lCup-\n"
                        "DOWN pressed key=F1 003b -> \"hi, you\": repeat, nothing to do\n"
                        "DOWN pressed key=F1 003b -> 001c: 001c down-\n"},
      {"up 1 3b PAD", "send 1 001e 0001\nsend 1 001c 0001\nUP remapping pressed key=F1 003b -> 001e: 001e up\n"
                      "UP remapping pressed key=F1 003b -> \"hi, you\": nothing to do\n"
                      "UP remapping pressed key=F1 003b -> 001c: 001c up\n"}}},
    {"a program starts at the first press only; a hold's program when held, the tap's text at a tap", {items},
     {{"down 1 3c PAD", "item 1 0 2\nDOWN pressed key=F2 003c -> run app.exe --go: handed to be started\n"},
      {"down 1 3c PAD", "DOWN pressed key=F2 003c -> run app.exe --go: repeat, nothing to do\n"},
      {"up 1 3c PAD", "UP remapping pressed key=F2 003c -> run app.exe --go: nothing to do\n"},
      {"down 1 3d PAD", ""}, {"up 1 3d PAD", "item 1 0 4\ntap: DOWN pressed key=F3 003d -> \"t\": typed\n"
                                               "tap: UP remapping pressed key=F3 003d -> \"t\": nothing to do\n"},
      {"down 1 3d PAD", ""}, {"wait 300", "item 1 0 3\nhold: DOWN pressed key=F3 003d -> open notes.txt: handed to be started\n"}}},
    {"a save while a key is pending: its tap types what its press found; the next press the new text", {items},
     {{"down 1 3d PAD", ""}, {"save 0 PAD\nF3 \"new\"\n", "reloaded f0.cfg\nF3->\"new\"\n"},
      {"up 1 3d PAD", "item 1 0 2\ntap: DOWN pressed key=F3 003d -> \"t\": typed\n"
                      "tap: UP remapping pressed key=F3 003d -> \"t\": nothing to do\n"},
      {"down 1 3d PAD", "item 1 0 1\nDOWN pressed key=F3 003d -> \"new\": typed\n"}}},
    {"with administrator rights a save's run and open lines are refused: the key passes on", {items},
     {{"elevated", ""},
      {"save 0 PAD\nF2 run app.exe\nF3 A\nhold F3 open x\n",
       "reloaded f0.cfg\nF2->run app.exe\nF3->A\nhold F3->open x\n"
       "line 2: 'run app.exe' is refused: padmap runs with administrator rights, and a file any program of yours can "
       "write must not start programs as administrator\n"
       "line 4: 'open x' is refused: padmap runs with administrator rights, and a file any program of yours can "
       "write must not start programs as administrator\n"},
      {"down 1 3c PAD", "pass 1 003c 0000\nbypassing key 003c\n"},
      {"down 1 3d PAD", "send 1 001e 0000\nDOWN pressed key=F3 003d -> 001e: 001e down-\n"}}},
    {"a keyboard is captured when a file names it or its id is unknown", {pad},
     {{"kbd 1 MAIN", "filter 1 0\n"}, {"kbd 2 PAD", "filter 2 ffff\n"}, {"kbd 3 -", "filter 3 ffff\n"},
      {"kbd 4 pad", "filter 4 0\n"}, {"kbd 0 PAD", ""}, {"kbd 11 PAD", ""}}},
    {"a named keyboard's keys are translated, its unmapped keys and Pause pass on", {pad},
     {{"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"up 1 3a PAD", "send 1 000e 0001\nUP remapping pressed key=Caps 003a -> 000e: 000e up\n"},
      {"down 1 1e PAD", "pass 1 001e 0000\nbypassing key 001e\n"},
      {"down 1 3b PAD", "send 1 001d 0000\nsend 1 002e 0000\nsend 1 001d 0001\n"
                        "DOWN pressed key=F1 003b -> 002e: lCdown-002e down-lCup-\n"}}},
    {"another keyboard's stroke passes on and lets it go; one without an id stays captured", {pad},
     {{"down 2 1e MAIN", "pass 2 001e 0000\nfilter 2 0\n"}, {"down 3 1e -", "pass 3 001e 0000\n"}}},
    {"a held key keeps its layout across a save; the next press takes the new one", {pad},
     {{"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"save 0 PAD\nCaps Delete\n", "reloaded f0.cfg\nCaps->Delete\n"},
      {"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"up 1 3a PAD", "send 1 000e 0001\nUP remapping pressed key=Caps 003a -> 000e: 000e up\n"},
      {"down 1 3a PAD", "send 1 0053 0002\nDOWN pressed key=Caps 003a -> e053: e053 down-\n"}}},
    {"a save that cannot be used keeps the layout", {pad, numpad},
     {{"save 1 PAD\n", "not reloaded f1.cfg: f0.cfg names the same keyboard (the layout stays as it was)\n"},
      {"save 0 !", "not reloaded f0.cfg: it cannot be read (the layout stays as it was)\n"},
      {"save 0  ", "not reloaded f0.cfg: it holds no hardware id (the layout stays as it was)\n"},
      {"save 1 OTHER\n", "check keyboards\nreloaded f1.cfg\n"}}},
    {"ids are shared out among the files as they are now", {pad, numpad, "OTHER\n"},
     {{"save 1 PAD\n", "not reloaded f1.cfg: f0.cfg names the same keyboard (the layout stays as it was)\n"},
      {"save 0 NEW\n || again 1 PAD\n", "check keyboards\nreloaded f0.cfg\nreloaded f1.cfg\n"},
      {"save 0 NUM2\n || save 2 NUM2\n",
       "not reloaded f0.cfg: f2.cfg names the same keyboard (the layout stays as it was)\n"
       "not reloaded f2.cfg: f0.cfg names the same keyboard (the layout stays as it was)\n"},
      {"save 1 OTHER\n || save 2 PAD\n", "check keyboards\nreloaded f1.cfg\nreloaded f2.cfg\n"},
      {"save 0 PAD\n || save 2 PAD\nCaps Esc\n",
       "not reloaded f0.cfg: f2.cfg names the same keyboard (the layout stays as it was)\n"
       "reloaded f2.cfg\nCaps->Esc\n"}}},
    {"a keyboard that leaves its slot gets what padmap held for it released", {pad, numpad},
     {{"down 1 3a PAD", "send 1 000e 0000\nf0.cfg: DOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"kbd 1 NUM", "send 1 000e 0001\nfilter 1 ffff\n"},
      {"up 1 3a NUM", "pass 1 003a 0001\nf1.cfg: bypassing key 003a\n"}}},
    {"the program in front picks its section; held keys keep theirs", {std::string(pad) + "when Edit.exe\nCaps Esc\n"},
     {{"front edit.EXE", ""},
      {"down 1 3a PAD", "send 1 0001 0000\nwhen Edit.exe: DOWN pressed key=Caps 003a -> 0001: 0001 down-\n"},
      {"front -", ""},
      {"up 1 3a PAD", "send 1 0001 0001\nwhen Edit.exe: UP remapping pressed key=Caps 003a -> 0001: 0001 up\n"},
      {"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"}}},
    {"a key passed on and an output of its code are one key of the system: a stop releases neither twice",
     {"PAD\nF1 A\n"},
     {{"down 1 3b PAD", "send 1 001e 0000\nDOWN pressed key=F1 003b -> 001e: 001e down-\n"},
      {"down 1 1e PAD", "pass 1 001e 0000\nbypassing key 001e\n"},
      {"up 1 1e PAD", "pass 1 001e 0001\nbypassing key 001e\n"},
      {"stop", ""}}},
    {"a stop releases every output held; a refused press is not held", {pad},
     {{"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"refuse", "the driver refused 000e down: it did not reach the system\n"},
      {"down 1 3b PAD", "send 1 001d 0000\nsend 1 002e 0000\nsend 1 001d 0001\n"
                        "DOWN pressed key=F1 003b -> 002e: lCdown-002e down-lCup-\n"},
      {"stop", "send 1 002e 0001\n"}}},
    {"a held layer key's layer is looked in first; its release ends its hold even when a toggle went off meanwhile",
     {layered},
     {{"down 1 58 PAD", "DOWN pressed key=F12 0058 -> layer(nav): layer nav on\n"},
      {"down 1 3b PAD", "send 1 004b 0002\nlayer nav: DOWN pressed key=F1 003b -> e04b: e04b down-\n"},
      {"down 1 57 PAD", "DOWN pressed key=F11 0057 -> toggle(media): layer media on\n"},
      {"down 1 3c PAD", "send 1 0030 0002\nlayer media: DOWN pressed key=F2 003c -> e030: e030 down-\n"},
      {"up 1 3b PAD", "send 1 004b 0003\nlayer nav: UP remapping pressed key=F1 003b -> e04b: e04b up\n"},
      {"down 1 3b PAD", "send 1 0030 0002\nlayer media: DOWN pressed key=F1 003b -> e030: e030 down-\n"},
      {"down 1 44 PAD", "DOWN pressed key=F10 0044 -> layers-off: every toggle off\n"},
      {"down 1 58 PAD", "DOWN pressed key=F12 0058 -> layer(nav): repeat, nothing to do\n"},
      {"up 1 58 PAD", "UP remapping pressed key=F12 0058 -> layer(nav): layer nav off\n"},
      {"up 1 3b PAD", "send 1 0030 0003\nlayer media: UP remapping pressed key=F1 003b -> e030: e030 up\n"},
      {"down 1 3b PAD", "send 1 001d 0000\nsend 1 002e 0000\nsend 1 001d 0001\n"
                        "DOWN pressed key=F1 003b -> 002e: lCdown-002e down-lCup-\n"}}},
    {"layers belong to one keyboard, and leave with it", {layered, "PAD2\nF12 layer(nav)\nlayer nav\nF1 Home\n"},
     {{"down 1 58 PAD", "f0.cfg: DOWN pressed key=F12 0058 -> layer(nav): layer nav on\n"},
      {"down 2 3b PAD2", "pass 2 003b 0000\nf1.cfg: bypassing key 003b\n"},
      {"kbd 1 -", "filter 1 ffff\n"},
      {"kbd 1 PAD", "filter 1 ffff\n"},
      {"down 1 3b PAD", "send 1 001d 0000\nsend 1 002e 0000\nsend 1 001d 0001\n"
                        "f0.cfg: DOWN pressed key=F1 003b -> 002e: lCdown-002e down-lCup-\n"}}},
    {"a key with a hold: tapped when released first, held when its time runs out, nothing at its repeats",
     {tap_hold},
     {{"down 1 3a PAD", ""},
      {"up 1 3a PAD", "send 1 0001 0000\nsend 1 0001 0001\ntap: DOWN pressed key=Caps 003a -> 0001: 0001 down-\n"
                      "tap: UP remapping pressed key=Caps 003a -> 0001: 0001 up\n"},
      {"down 1 3a PAD", ""},
      {"wait 299", ""},
      {"wait 1", "send 1 001d 0000\nhold: DOWN pressed key=Caps 003a -> 001d: 001d down-\n"},
      {"down 1 3a PAD", ""},
      {"up 1 3a PAD", "send 1 001d 0001\nhold: UP remapping pressed key=Caps 003a -> 001d: 001d up\n"}}},
    {"another key's press holds every pending key, oldest first, and is looked up with the layers they turned on",
     {tap_hold},
     {{"down 1 58 PAD", ""},
      {"down 1 3a PAD", ""},
      {"down 1 3b PAD", "send 1 001d 0000\nsend 1 004b 0002\n"
                        "hold: DOWN pressed key=F12 0058 -> layer(nav): layer nav on\n"
                        "hold: DOWN pressed key=Caps 003a -> 001d: 001d down-\n"
                        "layer nav: DOWN pressed key=F1 003b -> e04b: e04b down-\n"},
      {"up 1 58 PAD", "hold: UP remapping pressed key=F12 0058 -> layer(nav): layer nav off\n"}}},
    {"a pending key without a tap line is the key itself when tapped; a stop releases no pending key",
     {tap_hold},
     {{"down 1 58 PAD", ""},
      {"up 1 58 PAD", "pass 1 0058 0000\npass 1 0058 0001\ntap: bypassing key 0058\ntap: bypassing key 0058\n"},
      {"down 1 3a PAD", ""},
      {"stop", ""}}},
    {"deadlines that pass together are taken in deadline order, across keyboards",
     {tap_hold, "PAD2\nhold-time 100\nhold F3 RShift\n"},
     {{"down 1 3a PAD", ""},
      {"wait 50", ""},
      {"down 2 3d PAD2", ""},
      {"wait 300", "send 2 0036 0000\nsend 1 001d 0000\nf1.cfg: hold: DOWN pressed key=F3 003d -> 0036: 0036 down-\n"
                   "f0.cfg: hold: DOWN pressed key=Caps 003a -> 001d: 001d down-\n"}}},
};
// clang-format on

template <size_t count>
void expect_actions(const engine_case (&table)[count]) {
    for (const engine_case& c : table) {
        SCOPED_TRACE(c.name);
        engine_run run;
        start(&run, c.files);
        for (const step& s : c.steps) EXPECT_EQ(s.actions, happen(&run, s.event)) << s.event;
    }
}

TEST(Engine, GivenTheseEventsTheseActions) {
    expect_actions(cases);
}

// clang-format off
const engine_case let_go_cases[] = {
    {"a lock releases outputs and keys passed on; the keys that were down send nothing more", {pad},
     {{"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"down 1 1e PAD", "pass 1 001e 0000\nbypassing key 001e\n"},
      {"down 2 1f MAIN", "pass 2 001f 0000\nfilter 2 0\n"},
      {"let go", "send 1 000e 0001\npass 1 001e 0001\n"},
      {"down 1 3a PAD", ""}, {"up 1 3a PAD", ""}, {"up 1 1e PAD", ""},
      {"let go", ""},
      {"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"}}},
    {"a lock forgets pending keys and ends the holds of layer keys; toggles stay",
     {"PAD\nhold-time 300\nhold Caps LCtrl\nhold F12 layer(nav)\nF11 toggle(media)\nlayer nav\nF1 Left\n"
      "layer media\nF2 Home\n"},
     {{"down 1 57 PAD", "DOWN pressed key=F11 0057 -> toggle(media): layer media on\n"},
      {"down 1 58 PAD", ""}, {"down 1 3a PAD", ""},
      {"wait 300", "send 1 001d 0000\nhold: DOWN pressed key=F12 0058 -> layer(nav): layer nav on\n"
                   "hold: DOWN pressed key=Caps 003a -> 001d: 001d down-\n"},
      {"down 1 3b PAD", "send 1 004b 0002\nlayer nav: DOWN pressed key=F1 003b -> e04b: e04b down-\n"},
      {"let go", "send 1 001d 0001\nsend 1 004b 0003\n"},
      {"down 1 3c PAD", "send 1 0047 0002\nlayer media: DOWN pressed key=F2 003c -> e047: e047 down-\n"},
      {"up 1 58 PAD", ""}, {"up 1 3a PAD", ""}, {"up 1 3b PAD", ""},
      {"down 1 3a PAD", ""}, {"let go", "send 1 0047 0003\n"}, {"wait 300", ""}, {"up 1 3a PAD", ""}}},
    {"a pause clears every filter and releases outputs only; a resume asks the keyboards again", {pad},
     {{"kbd 1 PAD", "filter 1 ffff\n"},
      {"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"down 1 1e PAD", "pass 1 001e 0000\nbypassing key 001e\n"},
      {"resume", "nothing to do\n"},
      {"pause", "send 1 000e 0001\nfilter 1 0\nfilter 2 0\nfilter 3 0\nfilter 4 0\nfilter 5 0\nfilter 6 0\n"
                "filter 7 0\nfilter 8 0\nfilter 9 0\nfilter 10 0\n"},
      {"pause", "nothing to do\n"},
      {"kbd 1 PAD", "filter 1 0\n"}, {"down 1 3b PAD", "pass 1 003b 0000\n"},
      {"resume", "check keyboards\n"}, {"kbd 1 PAD", "filter 1 ffff\n"},
      {"up 1 3a PAD", "pass 1 003a 0001\nbypassing key 003a\n"},
      {"kbd 1 MAIN", "filter 1 0\n"}}},
    {"a new configuration captures every keyboard and swallows the first press of one no file names", {pad},
     {{"enroll", "check keyboards\n"}, {"kbd 1 PAD", "filter 1 ffff\n"}, {"kbd 2 MAIN", "filter 2 ffff\n"},
      {"up 2 1e MAIN", "pass 2 001e 0001\n"},
      {"down 1 3a PAD", "send 1 000e 0000\nDOWN pressed key=Caps 003a -> 000e: 000e down-\n"},
      {"down 2 1e MAIN", "check keyboards\nenrolled 2\n"}, {"kbd 2 MAIN", "filter 2 0\n"},
      {"pause", "send 1 000e 0001\nfilter 1 0\nfilter 2 0\nfilter 3 0\nfilter 4 0\nfilter 5 0\nfilter 6 0\n"
                "filter 7 0\nfilter 8 0\nfilter 9 0\nfilter 10 0\n"},
      {"enroll", "nothing to do\n"}}},
};
// clang-format on

TEST(Engine, LettingGoLeavesNothingHeldAndForgetsThePressesBefore) {
    expect_actions(let_go_cases);
}

// Which events tell a keyboard a file names as seen for the first time (the
// loop tells the user of those after its start): each event's arrived slot,
// "-" for none.
struct arrival_case {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::string> events;
    const char* arrivals;
};

const arrival_case arrival_cases[] = {
    {"plugged in, out and in again in another slot: news once",
     {pad},
     {"kbd 1 PAD", "kbd 1 -", "kbd 2 PAD", "kbd 2 MAIN", "kbd 1 PAD"},
     "1 - - - -"},
    {"a stroke that comes before the system's news of its keyboard",
     {pad},
     {"kbd 1 MAIN", "down 1 3a PAD", "up 1 3a PAD", "kbd 1 PAD"},
     "- 1 - -"},
    {"a keyboard whose id reads only later is news once it reads",
     {pad},
     {"kbd 1 -", "down 1 1e -", "up 1 1e -", "kbd 1 PAD"},
     "- - - 1"},
    {"a keyboard no file names is no news, nor once a save names it",
     {pad, "OTHER\n"},
     {"kbd 2 NEW", "down 2 1e NEW", "save 1 NEW\n", "kbd 2 NEW", "down 2 1e NEW"},
     "- - - - -"},
    {"the keyboard a new configuration picked was there",
     {pad},
     {"kbd 1 PAD", "enroll", "kbd 2 NEW", "down 2 1e NEW", "save 0 NEW\n", "kbd 2 NEW", "kbd 1 PAD"},
     "1 - - - - - -"},
    {"a pause or a resume brings no news; a keyboard plugged in while paused is",
     {pad, numpad},
     {"kbd 1 PAD", "pause", "kbd 2 NUM", "resume", "kbd 1 PAD", "kbd 2 NUM"},
     "1 - 2 - - -"},
};

TEST(Engine, AKeyboardAFileNamesIsNewsTheFirstTimeASlotHoldsIt) {
    for (const arrival_case& c : arrival_cases) {
        SCOPED_TRACE(c.name);
        engine_run run;
        start(&run, c.files);
        std::string arrivals;
        for (const std::string& event : c.events) {
            happen(&run, event);
            if (!arrivals.empty()) arrivals += " ";
            arrivals += run.out.arrived_device != 0 ? std::to_string(run.out.arrived_device) : "-";
        }
        EXPECT_EQ(c.arrivals, arrivals);
    }
}

TEST(Engine, AFileWhoseSaveWasRefusedIsKnownUntilItLoadsOrHoldsItsLayoutAgain) {
    const std::vector<std::pair<std::string, uint32_t>> steps = {
        {"save 1 PAD\n", 2},          {"save 0 !", 1},   {"again 1 PAD\n || save 0 NEW\n", 0}, {"save 1 NUM\n", 0},
        {"save 0  || save 1 X\n", 1}, {"again 1 X\n", 0}};
    engine_run run;
    start(&run, {pad, numpad});
    for (const auto& step : steps) {
        happen(&run, step.first);
        EXPECT_EQ(step.second, run.core->refused) << step.first;
    }
}

// Random sessions of two pads with layers and holds, locked, paused and
// resumed at random points. A key typed while paused goes straight to the
// system (the user's own). What the engine sends never releases a key that
// is not down; a lock leaves nothing of padmap's down; once every key is up
// nothing is down.
TEST(Engine, LockAndPauseNeverLeaveAKeyDownNorReleaseOneTwice) {
    const std::string text =
        "PAD\nhold-time 200\nCaps Esc\nhold Caps LCtrl\nhold F12 layer(nav)\nF11 toggle(media)\nF1 C-C\n"
        "layer nav\nF1 Left\nF2 S-Right\nlayer media\nF1 VolumeUp\nF3 Home\n";
    const uint16_t keys[] = {0x3A, 0x58, 0x57, 0x3B, 0x3C, 0x3D, 0x1E};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        engine_run run;
        start(&run, {text, "PAD2\nF1 B\nF2 C-RShift\n"});
        std::set<std::pair<int, uint16_t>> typed_down;
        std::map<std::pair<int, uint16_t>, bool> system;  // device and lookup code -> down
        std::map<std::pair<int, uint16_t>, bool> own;     // ... the keys typed while paused
        std::string events;
        bool paused = false;
        auto system_down = [&]() {
            for (const auto& key : system) {
                if (key.second) return true;
            }
            return false;
        };
        auto apply = [&](const std::string& event) {
            events += event + "\n";
            happen(&run, event);
            for (int i = 0; i < run.out.count; ++i) {
                const action& a = run.out.list[i];
                if (a.kind == action_filter) continue;
                std::pair<int, uint16_t> key = {a.device, lookup_code(a.key)};
                bool release = (a.key.key_state & key_state_up) != 0;
                bool typed_release = a.kind == action_pass && typed_down.count(key) == 0;
                if (release && !system[key] && !typed_release) {
                    ADD_FAILURE() << "released " << std::hex << key.second << " that is not down after\n" << events;
                }
                system[key] = !release;
                if (release) own[key] = false;
            }
        };
        int length = static_cast<int>(random() % 80);
        for (int i = 0; i < length && !HasFailure(); ++i) {
            int device = 1 + static_cast<int>(random() % 2);
            std::pair<int, uint16_t> key = {device, keys[random() % (sizeof keys / sizeof keys[0])]};
            int what = static_cast<int>(random() % 10);
            if (what == 0) {
                apply("let go");
                EXPECT_FALSE(system_down()) << "a key is down after\n" << events;
                continue;
            }
            if (what == 1) {
                paused = !paused;
                apply(paused ? "pause" : "resume");
                // What is still down after a pause was passed on: the user's
                // own keys from now on.
                for (auto& down : system) {
                    if (paused && down.second) own[down.first] = true, down.second = false;
                }
                continue;
            }
            if (what == 2) {
                apply("wait " + std::to_string(random() % 400));
                continue;
            }
            // A key held down across the resume repeats as a new press, as at
            // padmap's start: these sessions let it come up first.
            bool up = (what < 6 || (!paused && own[key])) && typed_down.count(key) > 0;
            char event[64];
            std::snprintf(event, sizeof event, "%s %d %x %s", up ? "up" : "down", device, key.second,
                          device == 1 ? "PAD" : "PAD2");
            if (up) {
                typed_down.erase(key);
            } else {
                typed_down.insert(key);
            }
            if (paused) {
                // The keyboard is not captured: the stroke is the system's.
                events += std::string(event) + " (straight to the system)\n";
                own[key] = !up;
                // A key padmap passed on before the pause comes up so too.
                if (up) system[key] = false;
            } else {
                apply(event);
            }
        }
        if (paused) apply("resume");
        for (const auto& key : std::set<std::pair<int, uint16_t>>(typed_down)) {
            char event[64];
            std::snprintf(event, sizeof event, "up %d %x %s", key.first, key.second, key.first == 1 ? "PAD" : "PAD2");
            typed_down.erase(key);
            apply(event);
        }
        EXPECT_EQ(no_deadline, engine_deadline(run.core.get())) << "a key is still pending after\n" << events;
        EXPECT_FALSE(system_down()) << "a key is left down after\n" << events;
        for (const auto& key : own) EXPECT_FALSE(key.second) << "a key typed while paused is left down";
        if (HasFailure()) break;
    }
}

}  // namespace

namespace {

bool whole_characters(const char* text) {
    size_t length = std::strlen(text);
    size_t at = 0;
    while (at < length) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if ((lead & 0xC0) == 0x80 || at + size > length) return false;
        at += size;
    }
    return true;
}

// A prefix too long for its room, of a path or of a section's programs, is
// cut between characters, whatever their sizes.
TEST(Engine, ALongPrefixIsCutBetweenCharacters) {
    for (const char* character : {"\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x91\x8b"}) {
        for (int odd = 0; odd < 3; ++odd) {
            SCOPED_TRACE(std::string(character) + " " + std::to_string(odd));
            std::string name = std::string(static_cast<size_t>(odd), 'x');
            std::string programs = std::string(static_cast<size_t>(odd), 'p');
            for (int i = 0; i < 120; ++i) name += character;
            for (int i = 0; i < 60; ++i) programs += character;
            std::string text = "PAD\nwhen " + programs + ".exe\nCaps Esc\n";
            engine_run run;
            start(&run, {text, "NUM\n"});
            run.core->files[0].shown = name;
            std::string shown[] = {name, "b.cfg"};
            start_engine(run.core.get(), 2, shown);
            EXPECT_TRUE(whole_characters(run.core->files[0].line_prefix));
            EXPECT_TRUE(whole_characters(run.core->files[0].section_prefix[0]));
        }
    }
}

}  // namespace

namespace {

// Random sessions of a pad with layers and keys with holds: presses and
// releases in any order, waits, saves of the file with other layers and
// holds. What the engine asks for never releases a key that is not down (but
// for a key passed on as typed), and once every key is up, nothing is down
// and nothing pends.
TEST(Engine, LayersAndHoldsNeverLeaveAKeyDown) {
    const std::string text =
        "PAD\nhold-time 200\nCaps Esc\nhold Caps LCtrl\nhold F12 layer(nav)\nF11 toggle(media)\nF10 layers-off\n"
        "F1 C-C\nhold F2 RShift\nlayer nav\nF1 Left\nF2 S-Right\nhold F3 layer(media)\nlayer media\nF1 VolumeUp\n"
        "F3 Home\nCaps Tab\n";
    const std::string other =
        "PAD\nhold-time 50\nhold Caps layer(media)\nF12 layer(nav)\nhold F1 LShift\nlayer nav\nF1 PageUp\n"
        "hold F2 RAlt\nlayer media\nF3 End\n";
    const uint16_t keys[] = {0x3A, 0x58, 0x57, 0x44, 0x3B, 0x3C, 0x3D, 0x3E};
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        engine_run run;
        testing::internal::CaptureStdout();
        start(&run, {text});
        testing::internal::GetCapturedStdout();
        std::set<uint16_t> typed_down;
        std::map<uint16_t, bool> system;  // lookup code -> down
        std::string events;
        auto apply = [&](const std::string& event) {
            events += event + "\n";
            happen(&run, event);
            for (int i = 0; i < run.out.count; ++i) {
                const action& a = run.out.list[i];
                if (a.kind == action_filter) continue;
                uint16_t code = lookup_code(a.key);
                bool release = (a.key.key_state & key_state_up) != 0;
                if (release && !system[code] && a.kind != action_pass) {
                    ADD_FAILURE() << "released " << std::hex << code << " that is not down after\n" << events;
                }
                system[code] = !release;
            }
        };
        int length = static_cast<int>(random() % 60);
        for (int i = 0; i < length && !HasFailure(); ++i) {
            uint16_t key = keys[random() % (sizeof keys / sizeof keys[0])];
            char event[64];
            int what = static_cast<int>(random() % 6);
            if (what == 5) {
                // A save: the same file, or one whose layers and holds differ
                // (no output of one is also another key's in the other: two
                // keys that send one key each answer for their own).
                apply(random() % 2 ? "save 0 " + text : "save 0 " + other);
                continue;
            }
            if (what == 4) {
                std::snprintf(event, sizeof event, "wait %u", static_cast<unsigned>(random() % 400));
            } else if (what == 3 && typed_down.count(key) > 0) {
                std::snprintf(event, sizeof event, "up 1 %x PAD", key);
                typed_down.erase(key);
            } else {
                std::snprintf(event, sizeof event, "down 1 %x PAD", key);
                typed_down.insert(key);
            }
            apply(event);
        }
        for (uint16_t key : std::set<uint16_t>(typed_down)) {
            char event[64];
            std::snprintf(event, sizeof event, "up 1 %x PAD", key);
            apply(event);
        }
        EXPECT_EQ(no_deadline, engine_deadline(run.core.get())) << "a key is still pending after\n" << events;
        // Every key is up: so is everything it sent, without the stop's help.
        for (const auto& key : system) {
            EXPECT_FALSE(key.second) << std::hex << key.first << " is left down after\n" << events;
        }
        apply("stop");
        if (HasFailure()) break;
    }
}

}  // namespace
