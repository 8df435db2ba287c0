#include "app/check.h"

#include <string>

#include "console/console.h"
#include "keymap/config_check.h"
#include "keymap/text.h"

namespace {

std::string utf8_of(const char16_t* text) {
    std::string out(std::char_traits<char16_t>::length(text) * 3 + 1, '\0');
    out.resize(utf16_to_utf8(text, &out[0], out.size()));
    return out;
}

const char* plural(size_t count) {
    return count == 1 ? "" : "s";
}

}  // namespace

int run_check(const char16_t* path) {
    const std::string file = utf8_of(path);
    config_check result;
    check_config(path, &result);
    if (result.outcome == config_unreadable) {
        console_printf(console_out, "failed to open %s\n", file.c_str());
        return 2;
    }
    for (const config_finding& finding : result.findings) {
        console_printf(console_out, "%s:%ld: %s\n", file.c_str(), finding.line, finding.message.c_str());
    }
    std::string id = result.outcome == config_loaded ? "hardware id " + utf8_of(configured_hardware_id)
                                                     : std::string("no hardware id");
    console_printf(console_out, "%s: %s, %d key%s mapped, %zu finding%s\n", file.c_str(), id.c_str(),
                   result.keys_mapped, plural(static_cast<size_t>(result.keys_mapped)), result.findings.size(),
                   plural(result.findings.size()));
    return result.findings.empty() ? 0 : 1;
}
