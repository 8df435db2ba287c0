// The picture of padmapw's tray icon with its menu open, for the README:
// asks the padmapw of the session to open its menu (as a right click on the
// icon does) with the pointer at X,Y, takes the screen, closes the menu.
//
//   padmap-tray-shot OUT.ppm X Y
//
// OUT.ppm: the screen as a binary PPM. Exit status 1 when padmapw does not
// answer or the picture cannot be written.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/control_channel.h"

namespace {

// A menu takes a moment to be drawn on the display.
constexpr DWORD menu_drawn_ms = 1500;

bool write_screen(const char* path) {
    HDC screen = GetDC(nullptr);
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
    bool taken = GetDIBits(memory, picture, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height;
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::FILE* out = std::fopen(path, "wb");
    if (!taken || out == nullptr) return false;
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* bgr = &pixels[static_cast<size_t>(y) * stride + x * 3];
            unsigned char rgb[3] = {bgr[2], bgr[1], bgr[0]};
            std::fwrite(rgb, 1, 3, out);
        }
    }
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: padmap-tray-shot OUT.ppm X Y\n", stderr);
        return 2;
    }
    SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3]));
    std::string answer;
    if (ask_padmapw("menu", &answer) != control_answered) return 1;
    Sleep(menu_drawn_ms);
    bool written = write_screen(argv[1]);
    // Escape closes the menu, which has the keyboard.
    INPUT escape[2] = {};
    escape[0].type = escape[1].type = INPUT_KEYBOARD;
    escape[0].ki.wVk = escape[1].ki.wVk = VK_ESCAPE;
    escape[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, escape, sizeof escape[0]);
    return written ? 0 : 1;
}
