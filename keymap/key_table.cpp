#include "keymap/key_table.h"

#include <cstring>

struct key_seed {
    const char* name;
    uint16_t scan_code;
};

namespace {

// clang-format off
const key_seed initial_keys[] = {
    {"A", 0x001E},
    {"B", 0x0030},
    {"C", 0x002E},
    {"D", 0x0020},
    {"E", 0x0012},
    {"F", 0x0021},
    {"G", 0x0022},
    {"H", 0x0023},
    {"I", 0x0017},
    {"J", 0x0024},
    {"K", 0x0025},
    {"L", 0x0026},
    {"M", 0x0032},
    {"N", 0x0031},
    {"O", 0x0018},
    {"P", 0x0019},
    {"Q", 0x0010},
    {"R", 0x0013},
    {"S", 0x001F},
    {"T", 0x0014},
    {"U", 0x0016},
    {"V", 0x002F},
    {"W", 0x0011},
    {"X", 0x002D},
    {"Y", 0x0015},
    {"Z", 0x002C},
    {"0", 0x000B},
    {"1", 0x0002},
    {"2", 0x0003},
    {"3", 0x0004},
    {"4", 0x0005},
    {"5", 0x0006},
    {"6", 0x0007},
    {"7", 0x0008},
    {"8", 0x0009},
    {"9", 0x000A},
    {"`", 0x0029},
    {"-", 0x000C},
    {"=", 0x000D},
    {"\\", 0x002B},
    {"Backspace", 0x000E},
    {"Space", 0x0039},
    {"Tab", 0x000F},
    {"Caps", 0x003A},
    {"Enter", 0x001C},
    {"F1", 0x003B},
    {"F2", 0x003C},
    {"F3", 0x003D},
    {"F4", 0x003E},
    {"F5", 0x003F},
    {"F6", 0x0040},
    {"F7", 0x0041},
    {"F8", 0x0042},
    {"F9", 0x0043},
    {"F10", 0x0044},
    {"F11", 0x0057},
    {"F12", 0x0058},
    {"[", 0x001A},
    {"Insert", 0xE052},
    {"Home", 0xE047},
    {"PageUp", 0xE049},
    {"Delete", 0xE053},
    {"End", 0xE04F},
    {"PageDown", 0xE051},
    {"Up", 0xE048},
    {"Left", 0xE04B},
    {"Down", 0xE050},
    {"Right", 0xE04D},
    {"Num/", 0xE035},
    {"Num*", 0x0037},
    {"Num-", 0x004A},
    {"Num+", 0x004E},
    {"NumEnter", 0xE01C},
    {"Num.", 0x0053},
    {"Num0", 0x0052},
    {"Num1", 0x004F},
    {"Num2", 0x0050},
    {"Num3", 0x0051},
    {"Num4", 0x004B},
    {"Num5", 0x004C},
    {"Num6", 0x004D},
    {"Num7", 0x0047},
    {"Num8", 0x0048},
    {"Num9", 0x0049},
    {"]", 0x001B},
    {";", 0x0027},
    {"'", 0x0028},
    {",", 0x0033},
    {".", 0x0034},
    {"/", 0x0035},
    {"user1", 0x0000},
    {"user2", 0x0000},
    {"user3", 0x0000},
    {"user4", 0x0000},
    {"user5", 0x0000},
    {"user6", 0x0000},
    {"user7", 0x0000},
    {"user8", 0x0000},
    {"user9", 0x0000},
    {"user10", 0x0000},
    {"Esc", 0x0001},
    {"LShift", 0x002A},
    {"RShift", 0x0036},
    {"LCtrl", 0x001D},
    {"RCtrl", 0xE01D},
    {"LAlt", 0x0038},
    {"RAlt", 0xE038},
    {"LWin", 0xE05B},
    {"RWin", 0xE05C},
    {"Menu", 0xE05D},
    {"PrintScreen", 0xE037},
    {"ScrollLock", 0x0046},
    {"NumLock", 0x0045},
    {"F13", 0x0064},
    {"F14", 0x0065},
    {"F15", 0x0066},
    {"F16", 0x0067},
    {"F17", 0x0068},
    {"F18", 0x0069},
    {"F19", 0x006A},
    {"F20", 0x006B},
    {"F21", 0x006C},
    {"F22", 0x006D},
    {"F23", 0x006E},
    {"F24", 0x0076},
    {"IntlBackslash", 0x0056},
    {"IntlRo", 0x0073},
    {"IntlYen", 0x007D},
    {"Convert", 0x0079},
    {"NonConvert", 0x007B},
    {"KanaMode", 0x0070},
    {"Mute", 0xE020},
    {"VolumeDown", 0xE02E},
    {"VolumeUp", 0xE030},
    {"PlayPause", 0xE022},
    {"StopMedia", 0xE024},
    {"NextTrack", 0xE019},
    {"PrevTrack", 0xE010},
    {"MediaSelect", 0xE06D},
    {"Mail", 0xE06C},
    {"Calculator", 0xE021},
    {"MyComputer", 0xE06B},
    {"BrowserSearch", 0xE065},
    {"BrowserHome", 0xE032},
    {"BrowserBack", 0xE06A},
    {"BrowserForward", 0xE069},
    {"BrowserStop", 0xE068},
    {"BrowserRefresh", 0xE067},
    {"Favorites", 0xE066},
    {"Power", 0xE05E},
    {"Sleep", 0xE05F},
    {"Wake", 0xE063},
};

}  // namespace
// clang-format on

static_assert(sizeof initial_keys / sizeof initial_keys[0] == key_count, "every entry has its name and code");

void reset_key_table(key_table* table) {
    memset(table, 0, sizeof *table);
    for (int i = 0; i < key_count; ++i) {
        strncpy(table->entries[i].name, initial_keys[i].name, key_name_size - 1);
        table->entries[i].scan_code = initial_keys[i].scan_code;
    }
}

namespace {

key_table make_fresh_table() {
    key_table table;
    reset_key_table(&table);
    return table;
}

}  // namespace

const key_table& fresh_key_table() {
    static const key_table table = make_fresh_table();
    return table;
}

int find_key_by_name(const key_table* table, const char* text) {
    for (int i = 0; i < key_count; ++i) {
        if (strcmp(table->entries[i].name, text) == 0) return i;
    }
    return -1;
}

namespace {

int find_code_before(const key_table* table, uint16_t code, int end) {
    for (int i = 0; i < end; ++i) {
        if (table->entries[i].scan_code == code) return i;
    }
    return -1;
}

}  // namespace

int find_key_by_code(const key_table* table, uint16_t code) {
    return find_code_before(table, code, key_count);
}

// A code stands in one entry, or in a user entry a '#' line claimed and a
// later name: only then is there a second entry to look at.
int find_mapped_by_code(const key_table* codes, const key_table* outputs, uint16_t code) {
    int first = find_key_by_code(codes, code);
    if (first < 0 || outputs->entries[first].outputs[0] != 0) return first;
    if (!is_user_key(first)) return -1;
    for (int i = first_late_key; i < key_count; ++i) {
        if (codes->entries[i].scan_code == code && outputs->entries[i].outputs[0] != 0) return i;
    }
    return -1;
}

int find_key_for_code_line(const key_table* table, uint16_t code) {
    return find_code_before(table, code, first_late_key);
}

int claim_user_slot(key_table* table, uint16_t code) {
    for (int i = first_user_key; i < first_late_key; ++i) {
        if (table->entries[i].scan_code != 0) continue;
        table->entries[i].scan_code = code;
        return i;
    }
    return -1;
}
