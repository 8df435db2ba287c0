#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "app/padmapw-win32.h"
#include "app/startup.h"
#include "keymap/text.h"

namespace {

const wchar_t tray_window_class[] = L"padmapw-tray";
constexpr UINT icon_id = 1;
constexpr int window_attempts = 10;
constexpr UINT_PTR icon_timer = 1;
constexpr UINT icon_retry_ms = 1000;
constexpr DWORD window_retry_ms = 100;

// The menu's commands; each file of Edit configuration is edit_first + its index.
enum menu_command : UINT {
    menu_open_log = 1,
    menu_reload,
    menu_pause,
    menu_resume,
    menu_startup,
    menu_quit,
    menu_new,
    menu_edit_first = 100,
};

unseen* state_of(HWND window) {
    return reinterpret_cast<unseen*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

NOTIFYICONDATAW icon_data(unseen* state) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = state->window;
    data.uID = icon_id;
    return data;
}

void copy_text(wchar_t* into, size_t cap, const std::string& text) {
    std::u16string wide = utf16_text(text.c_str());
    size_t units = wide.size() < cap - 1 ? wide.size() : cap - 1;
    // A cut text ends before a character, not inside one.
    if (units < wide.size() && units > 0 && wide[units - 1] >= 0xD800 && wide[units - 1] < 0xDC00) --units;
    for (size_t i = 0; i < units; ++i) into[i] = static_cast<wchar_t>(wide[i]);
    into[units] = 0;
}

// The picture and the tooltip: running with N keyboards, paused, or stopped.
void fill_state(unseen* state, NOTIFYICONDATAW* data) {
    std::string tip = "padmap: ";
    LPCWSTR picture = MAKEINTRESOURCEW(32512);  // IDI_APPLICATION
    {
        std::lock_guard<std::mutex> hold(state->lock);
        if (state->paths.empty()) {
            tip += "no configuration";
            picture = MAKEINTRESOURCEW(32515);  // IDI_WARNING
        } else if (state->loop_status >= 0) {
            tip += state->stopped_why.empty() ? "stopped, see its log" : "stopped: " + state->stopped_why;
            picture = MAKEINTRESOURCEW(32513);  // IDI_ERROR
        } else if (state->report.paused.load()) {
            tip += "paused";
            picture = MAKEINTRESOURCEW(32516);  // IDI_INFORMATION
        } else {
            int keyboards = state->report.keyboards.load();
            tip += std::to_string(keyboards) + (keyboards == 1 ? " keyboard" : " keyboards");
        }
        // A save it refused: the pads run an older layout than the file says.
        std::string refused = state->loop_status < 0 ? refused_files(state) : "";
        if (!refused.empty()) {
            tip += ", " + refused + " not reloaded (see its log)";
            picture = MAKEINTRESOURCEW(32515);  // IDI_WARNING
        }
    }
    data->uFlags |= NIF_ICON | NIF_TIP;
    data->hIcon = LoadIconW(nullptr, picture);
    copy_text(data->szTip, sizeof data->szTip / sizeof data->szTip[0], tip);
}

void add_icon(unseen* state) {
    NOTIFYICONDATAW data = icon_data(state);
    data.uFlags = NIF_MESSAGE;
    data.uCallbackMessage = tray_icon_message;
    fill_state(state, &data);
    state->icon_shown = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void show_menu(unseen* state) {
    HMENU menu = CreatePopupMenu();
    HMENU files = CreatePopupMenu();
    bool paused = state->report.paused.load();
    {
        std::lock_guard<std::mutex> hold(state->lock);
        uint32_t refused = state->loop_status < 0 ? state->report.refused.load() : 0;
        for (size_t i = 0; i < state->paths.size(); ++i) {
            const std::u16string& path = state->paths[i];
            size_t slash = path.find_last_of(u"\\/");
            std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
            // The file whose save was not applied is the one to open.
            if (i < 32 && (refused & (1u << i))) name += u" (not reloaded)";
            AppendMenuW(files, MF_STRING, menu_edit_first + i, reinterpret_cast<const wchar_t*>(name.c_str()));
        }
    }
    AppendMenuW(menu, MF_STRING, menu_open_log, L"Open log");
    AppendMenuW(menu, MF_POPUP | (GetMenuItemCount(files) > 0 ? 0 : MF_GRAYED), reinterpret_cast<UINT_PTR>(files),
                L"Edit configuration");
    AppendMenuW(menu, MF_STRING, menu_new, L"New configuration");
    AppendMenuW(menu, MF_STRING, menu_reload, L"Reload");
    AppendMenuW(menu, MF_STRING, paused ? menu_resume : menu_pause, paused ? L"Resume" : L"Pause");
    AppendMenuW(menu, MF_STRING | (startup_is_on() ? MF_CHECKED : 0), menu_startup, L"Start at logon");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, menu_quit, L"Quit");
    POINT at;
    GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if its window is
    // in front.
    SetForegroundWindow(state->window);
    UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, state->window, nullptr);
    PostMessageW(state->window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    switch (chosen) {
    case 0: break;
    case menu_open_log: padmapw_command(state, "open-log"); break;
    case menu_reload: padmapw_command(state, "reload"); break;
    case menu_new: padmapw_command(state, "new"); break;
    case menu_pause: padmapw_command(state, "pause"); break;
    case menu_resume: padmapw_command(state, "resume"); break;
    case menu_startup: padmapw_command(state, startup_is_on() ? "startup off" : "startup on"); break;
    case menu_quit: padmapw_command(state, "quit"); break;
    default: padmapw_command(state, "edit " + std::to_string(chosen - menu_edit_first + 1)); break;
    }
}

LRESULT CALLBACK tray_window(HWND window, UINT message, WPARAM what, LPARAM detail) {
    unseen* state = state_of(window);
    static UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    if (state == nullptr) return DefWindowProcW(window, message, what, detail);
    if (message == tray_icon_message) {
        if (detail == WM_RBUTTONUP || detail == WM_CONTEXTMENU) show_menu(state);
        if (detail == WM_LBUTTONDBLCLK) padmapw_command(state, "open-log");
        return 0;
    }
    if (message == loop_changed_message) {
        bool ended = false;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            ended = state->quitting && state->loop_status >= 0;
        }
        if (ended) {
            // A menu left open (its modal loop brought the message here) goes first.
            EndMenu();
            DestroyWindow(window);
            return 0;
        }
        show_state(state);
        return 0;
    }
    if (message == notify_message) {
        show_notification(state);
        return 0;
    }
    if (message == enrolled_message) {
        write_new_configuration(state);
        return 0;
    }
    if (message == WM_TIMER && what == icon_timer) {
        add_icon(state);
        if (state->icon_shown.load()) KillTimer(window, icon_timer);
        return 0;
    }
    // Explorer started again: the icon is shown anew.
    if (message == taskbar_created) {
        add_icon(state);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, what, detail);
}

}  // namespace

bool open_tray(unseen* state, HINSTANCE instance) {
    WNDCLASSEXW kind = {};
    kind.cbSize = sizeof kind;
    kind.lpfnWndProc = tray_window;
    kind.hInstance = instance;
    kind.lpszClassName = tray_window_class;
    if (RegisterClassExW(&kind) == 0) return false;
    // A desktop that is still starting (at logon; Wine's, at its first
    // window) may refuse the first windows for a moment: its own window is
    // asked for first, which waits for it.
    GetDesktopWindow();
    for (int attempt = 0; attempt < window_attempts && state->window == nullptr; ++attempt) {
        if (attempt > 0) Sleep(window_retry_ms);
        state->window = CreateWindowExW(WS_EX_TOOLWINDOW, tray_window_class, L"padmapw", WS_POPUP, 0, 0, 0, 0, nullptr,
                                        nullptr, instance, nullptr);
    }
    // A message-only window takes the icon's clicks and owns the menu just
    // as well; it misses only Explorer's restart (the icon is not shown anew).
    if (state->window == nullptr) {
        state->window =
            CreateWindowExW(0, tray_window_class, L"padmapw", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    }
    if (state->window == nullptr) return false;
    SetWindowLongPtrW(state->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    add_icon(state);
    // At logon the notification area may not be there yet: the icon is
    // offered again until it is shown.
    if (!state->icon_shown.load()) SetTimer(state->window, icon_timer, icon_retry_ms, nullptr);
    return true;
}

void show_state(unseen* state) {
    if (!state->icon_shown.load()) {
        add_icon(state);
        return;
    }
    NOTIFYICONDATAW data = icon_data(state);
    fill_state(state, &data);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void show_notification(unseen* state) {
    std::vector<balloon> waiting;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        waiting.swap(state->waiting);
    }
    for (const balloon& shown : waiting) {
        NOTIFYICONDATAW data = icon_data(state);
        data.uFlags = NIF_INFO;
        data.dwInfoFlags = shown.warning ? NIIF_WARNING : NIIF_INFO;
        copy_text(data.szInfoTitle, sizeof data.szInfoTitle / sizeof data.szInfoTitle[0], "padmap");
        copy_text(data.szInfo, sizeof data.szInfo / sizeof data.szInfo[0], shown.text);
        Shell_NotifyIconW(NIM_MODIFY, &data);
    }
}

void close_tray(unseen* state) {
    NOTIFYICONDATAW data = icon_data(state);
    Shell_NotifyIconW(NIM_DELETE, &data);
    if (IsWindow(state->window)) DestroyWindow(state->window);
    state->window = nullptr;
}
