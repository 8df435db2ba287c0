#include <windows.h>

#include "app/entry.h"
#include "app/stop.h"
#include "keymap/text.h"

namespace {

// Ctrl+C, Ctrl+Break, the console window closed, logoff and shutdown all ask
// the key loop to stop cleanly. For the last three Windows ends the process as
// soon as the handler returns, so the handler waits instead: the main thread
// finishes the stop and ends the process, or Windows does after its grace
// time.
constexpr DWORD stop_grace_ms = 10000;

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: request_stop(); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        request_stop();
        Sleep(stop_grace_ms);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

// Windows hands the arguments over as UTF-16 already; the console's code page
// is left as the user had it (text for a console goes through its wide API).
int wmain(int argc, wchar_t** argv) {
    // A program started in a new process group begins with Ctrl+C ignored;
    // padmap takes it in any case.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    utf16_args args = args_from_wide(argc, argv);
    return padmap_main(argc, args.argv.data());
}
