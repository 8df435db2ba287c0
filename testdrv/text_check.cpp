// Types texts and starts programs through padmap.exe, for the driver stage's
// check of texts and programs:
//
//   padmap-testdrv-texts PADMAP_EXE STDOUT_FILE WINDOW_EXE RECORDER_EXE
//
// In the working directory it starts the text window (WINDOW_EXE, which
// comes to the front and writes down what it is typed), writes
// conf\pad.cfg for the pad (keyboard 1, HID\VID_1A86&PID_E026&MI_00) and
// starts padmap on it with its standard output in STDOUT_FILE. Then:
// - F1 and F2 type texts with non-ASCII letters, a character outside the
//   BMP, \n and \t, F2's among key outputs: the window must receive every
//   UTF-16 unit of them as a character, Enter and Tab as keys;
// - F3 runs RECORDER_EXE with arguments: it must see its command line as the
//   line writes it, the configuration's folder as its working folder, no
//   more handles than the same program started here with none inherited,
//   and a console of its own;
// - F4 opens a copy of RECORDER_EXE in the configuration's folder by a
//   relative name: it must start there, with that folder as its working
//   folder;
// - F5 opens a file that is not there: padmap must log that it did not
//   start, with the system's message;
// - F6 runs that copy by a relative name without .exe: it must start from
//   the configuration's folder, named there by its full path.
// One PASS or FAIL line per check on standard output.
//
// Exit status 0 when every check passes, 1 when one fails; 2 for bad usage;
// 3 when the driver is missing or a step cannot be made (message on standard
// error).

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include "testdrv/command_line.h"
#include "testdrv/control.h"
#include "testdrv/text_runs.h"

namespace {

constexpr DWORD step_limit_ms = text_step_limit_ms;

// The texts as conf\pad.cfg writes them (UTF-8), and the units they type.
const char f1_text[] = "\"h\xC3\xA9llo, \xF0\x9F\x91\x8B\\n\"";
const char16_t f1_units[] = u"h\u00e9llo, \U0001F44B\n";
const char f2_text[] = "\"na\xC3\xAFve\\t\\\"x\\\" \\\\\"";
const char16_t f2_units[] = u"na\u00efve\t\"x\" \\";

int fail(const char* message) {
    std::fprintf(stderr, "padmap-testdrv-texts: %s\n", message);
    return 3;
}

std::string utf8(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring full_path(const wchar_t* path) {
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return full;
}

// Waits until the file holds text that ends a line and contains what (or
// its time runs out); returns its content.
std::string wait_for_file(const wchar_t* path, const std::string& what) {
    DWORD started = GetTickCount();
    std::string text;
    do {
        text = read_file(path);
        if (!text.empty() && text.back() == '\n' && text.find(what) != std::string::npos) break;
        Sleep(10);
    } while (GetTickCount() - started < step_limit_ms);
    return text;
}

// What the window must write down for the units: each a character, but
// Enter and Tab keys, which the window also receives as characters.
std::string typed_lines(const char16_t* units) {
    std::string lines;
    char line[32];
    for (; *units != 0; ++units) {
        if (*units == u'\n') lines += "key 0d\n";
        if (*units == u'\t') lines += "key 09\n";
        std::snprintf(line, sizeof line, "char %04x\n", *units == u'\n' ? 0x0D : static_cast<unsigned>(*units));
        lines += line;
    }
    return lines;
}

struct text_run {
    testctl_link* link;
    HANDLE padmap;
    int passed;
    int failed;
};

void report(text_run* run, bool passed, const std::string& name, const std::string& detail) {
    std::printf("%s %s%s%s\n", passed ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    ++(passed ? run->passed : run->failed);
}

// Taps the key on the pad and waits until padmap has read both strokes.
const char* tap(text_run* run, uint16_t make_code) {
    for (uint16_t state = 0; state < 2; ++state) {
        if (!testctl_push_key(run->link, 1, make_code, state, 0)) return "the test driver refused a stroke";
        DWORD started = GetTickCount();
        for (;;) {
            testctl_status status;
            if (!testctl_get_status(run->link, &status)) return "the test driver stopped answering";
            if (status.queued[0] == 0) break;
            if (WaitForSingleObject(run->padmap, 1) == WAIT_OBJECT_0) return "padmap exited";
            if (GetTickCount() - started > step_limit_ms) return "a stroke was not read in time";
        }
        testctl_delivered records[64];
        testctl_take_delivered(run->link, records, 64);
    }
    return nullptr;
}

// padmap with administrator rights says it refuses the four program lines
// as it loads the file (no keyboard is declared yet: it then ends).
void check_refusal(text_run* run, const std::wstring& command) {
    HANDLE padmap = nullptr;
    if (!start_on_desktop(command, L"elevated.out", CREATE_NO_WINDOW, &padmap)) {
        return report(run, false, "with administrator rights", "padmap cannot be started");
    }
    WaitForSingleObject(padmap, step_limit_ms);
    TerminateProcess(padmap, 3);
    CloseHandle(padmap);
    std::string said = read_file(L"elevated.out");
    size_t refused = 0;
    for (size_t at = said.find("' is refused: padmap runs with administrator rights"); at != std::string::npos;
         at = said.find("' is refused: padmap runs with administrator rights", at + 1)) {
        ++refused;
    }
    report(run, refused == 4, "with administrator rights padmap refuses the run and open lines",
           std::to_string(refused) + " of 4 refused");
}

// The value after "name: " on its line of a program's record.
std::string field(const std::string& record, const std::string& name) {
    size_t at = record.find(name + ": ");
    if (at == std::string::npos) return "";
    at += name.size() + 2;
    return record.substr(at, record.find('\n', at) - at);
}

// The recorder started here as padmap starts it, with nothing inherited: its
// record of handles is what no inheritance gives.
std::string baseline(const std::wstring& recorder, const std::wstring& record) {
    std::wstring line = L"\"" + recorder + L"\" \"" + record + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process)) {
        return "";
    }
    WaitForSingleObject(process.hProcess, step_limit_ms);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return read_file(record.c_str());
}

void check_programs(text_run* run, const std::wstring& recorder, const std::string& run_command,
                    const wchar_t* stdout_path) {
    std::wstring conf = full_path(L"conf");
    std::string expected_folder = utf8(conf);
    if (const char* problem = tap(run, 0x3D)) return report(run, false, "run", problem);
    std::string record = wait_for_file(full_path(L"run-record.txt").c_str(), "console processes: ");
    std::string alone = baseline(recorder, full_path(L"baseline-record.txt"));
    report(run, field(record, "command line") == run_command, "run: the program's command line is the line's",
           field(record, "command line"));
    report(run, field(record, "working folder") == expected_folder, "run: its working folder is the configuration's",
           field(record, "working folder"));
    report(run, !field(record, "handles").empty() && field(record, "handles") == field(alone, "handles"),
           "run: it inherited no handle of padmap's",
           field(record, "handles") + " open, " + field(alone, "handles") + " in one started with none inherited");
    report(run, field(record, "console processes") == "1", "run: a console of its own",
           field(record, "console processes") + " processes share it");

    if (const char* problem = tap(run, 0x3E)) return report(run, false, "open", problem);
    record = wait_for_file((conf + L"\\program-record.txt").c_str(), "console processes: ");
    report(run, field(record, "working folder") == expected_folder,
           "open: a relative target is started from the configuration's folder, which is its working folder",
           record.empty() ? "nothing started" : field(record, "working folder"));

    if (const char* problem = tap(run, 0x3F)) return report(run, false, "open of a missing file", problem);
    std::string said = wait_for_file(stdout_path, "open missing-file.txt did not start: ");
    size_t at = said.find("open missing-file.txt did not start: ");
    report(run, at != std::string::npos, "open of a missing file: padmap says it did not start",
           at == std::string::npos ? "no such line" : said.substr(at, said.find('\n', at) - at));

    if (const char* problem = tap(run, 0x40)) return report(run, false, "run by a relative name", problem);
    record = wait_for_file(full_path(L"relative-record.txt").c_str(), "console processes: ");
    std::string expected =
        "\"" + expected_folder + "\\rec-open.exe\" \"" + utf8(full_path(L"relative-record.txt")) + "\" one";
    report(run, field(record, "command line") == expected && field(record, "working folder") == expected_folder,
           "run by a relative name: the program in the configuration's folder, named by its full path",
           record.empty() ? "nothing started" : field(record, "command line"));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fputs("usage: padmap-testdrv-texts PADMAP_EXE STDOUT_FILE WINDOW_EXE RECORDER_EXE\n", stderr);
        return 2;
    }
    std::wstring recorder = full_path(argv[4]);
    std::string run_command =
        "\"" + utf8(recorder) + "\" \"" + utf8(full_path(L"run-record.txt")) + "\" one \"two words\" three";
    std::string config = "HID\\VID_1A86&PID_E026&MI_00\r\nF1 " + std::string(f1_text) + "\r\nF2 C-A," + f2_text +
                         ",Enter\r\nF3 run " + run_command + " # a comment\r\nF4 open rec-open.exe\r\n" +
                         "F5 open missing-file.txt\r\nF6 run rec-open \"" + utf8(full_path(L"relative-record.txt")) +
                         "\" one\r\n";
    if (!CreateDirectoryW(L"conf", nullptr) || !write_file(L"conf\\pad.cfg", config) ||
        !CopyFileW(recorder.c_str(), L"conf\\rec-open.exe", FALSE)) {
        return fail("the configuration cannot be written");
    }
    testctl_link link = {};
    if (!testctl_open(&link)) return fail("the test driver is not running");
    if (!testctl_reset(&link)) return fail("the test driver cannot be reset");
    std::wstring padmap_command = L"\"" + std::wstring(argv[1]) + L"\" conf\\pad.cfg";
    HANDLE limited = limited_token();
    text_run run = {&link, nullptr, 0, 0};
    if (!join_desktop()) return fail("the runner's desktop cannot be made");
    if (limited != nullptr) check_refusal(&run, padmap_command);
    if (!testctl_declare_pad_and_main(&link)) {
        return fail("the test driver refused the keyboards");
    }
    HANDLE window = nullptr;
    if (!start_on_desktop(L"\"" + std::wstring(argv[3]) + L"\"", L"window.out", 0, &window)) {
        return fail("the text window cannot be started");
    }
    if (wait_for_file(L"typed.txt", "ready").find("ready") == std::string::npos) {
        return fail("the text window did not come to the front");
    }
    // The programs are started by a padmap without administrator rights.
    HANDLE padmap = nullptr;
    if (!start_on_desktop(padmap_command, argv[2], CREATE_NO_WINDOW, &padmap, limited)) {
        return fail("padmap cannot be started");
    }
    run.padmap = padmap;
    const char* problem = testctl_wait_for_capture(&link, run.padmap, step_limit_ms);
    if (problem == nullptr) problem = tap(&run, 0x3B);
    if (problem == nullptr) problem = tap(&run, 0x3C);
    if (problem == nullptr) {
        std::string expected = "ready\n" + typed_lines(f1_units) + typed_lines(f2_units);
        std::string typed = wait_for_file(L"typed.txt", expected);
        report(&run, typed == expected, "texts: the window received every unit, Enter and Tab as keys",
               typed == expected ? std::to_string(std::count(typed.begin(), typed.end(), '\n') - 1) + " records"
                                 : "it wrote down:\n" + typed + "where this was due:\n" + expected);
        check_programs(&run, recorder, run_command, argv[2]);
    }
    if (problem == nullptr && !testctl_end(&link)) problem = "the session cannot be ended";
    if (problem == nullptr && WaitForSingleObject(run.padmap, step_limit_ms) != WAIT_OBJECT_0) {
        problem = "padmap did not exit when the session ended";
    }
    if (problem != nullptr) TerminateProcess(run.padmap, 3);
    TerminateProcess(window, 0);
    CloseHandle(window);
    CloseHandle(run.padmap);
    testctl_reset(&link);
    testctl_close(&link);
    if (problem != nullptr) return fail(problem);
    return run.failed == 0 ? 0 : 1;
}
