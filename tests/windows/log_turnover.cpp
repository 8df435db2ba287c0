// padmapw's log turned over at its limit: three times the limit of numbered
// lines, written in pieces of whole lines of many sizes, must leave
// padmap.1.log and padmap.log each within the limit, and the two together
// must hold the latest lines in order, none cut, each ending in CR LF.
//
//   log_turnover FOLDER     (exit status 0 when all holds)

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/log_file.h"

namespace {

std::string read_file(const std::u16string& path) {
    HANDLE file =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string text;
    char piece[65536];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, piece, sizeof piece, &got, nullptr) && got > 0) {
        text.append(piece, got);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::u16string folder(reinterpret_cast<const char16_t*>(argv[1]));
    log_file log = {};
    if (!open_log_file(&log, folder)) {
        std::puts("FAIL the log cannot be opened");
        return 1;
    }
    unsigned long line = 0;
    uint64_t written = 0;
    for (unsigned piece = 1; written < 3 * log_file_limit; ++piece) {
        std::string text;
        for (unsigned i = 0; i < piece % 97 + 1; ++i) {
            char one[96];
            int length = std::snprintf(one, sizeof one, "line %08lu: DOWN pressed key=F1 003b -> 002e\n", ++line);
            text.append(one, static_cast<size_t>(length));
        }
        written += text.size();
        if (log_file_sink(&log, text.data(), text.size()).state != log_sink_took) {
            std::puts("FAIL a piece was not taken");
            return 1;
        }
    }
    close_log_file(&log);
    std::string older = read_file(log.older);
    std::string newer = read_file(log.path);
    std::string both = older + newer;
    bool ok = !older.empty() && !newer.empty() && older.size() <= log_file_limit && newer.size() <= log_file_limit;
    // The lines run on without a gap up to the last one written.
    unsigned long expected = 0;
    size_t at = 0;
    while (ok && at < both.size()) {
        size_t end = both.find("\r\n", at);
        unsigned long number = 0;
        ok = end != std::string::npos && std::sscanf(both.c_str() + at, "line %08lu:", &number) == 1 &&
             (expected == 0 || number == expected + 1);
        expected = number;
        at = end + 2;
    }
    ok = ok && expected == line;
    std::printf("%s padmap.1.log %zu bytes, padmap.log %zu bytes, lines up to %lu of %lu\n", ok ? "PASS" : "FAIL",
                older.size(), newer.size(), expected, line);
    return ok ? 0 : 1;
}
