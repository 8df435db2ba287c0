#include "app/check.h"

#include <string>

#include "console/console.h"
#include "keymap/config_check.h"
#include "keymap/text.h"

namespace {

const char* plural(size_t count) {
    return count == 1 ? "" : "s";
}

}  // namespace

int run_check(const char16_t* path) {
    const std::string file = utf8_text(path);
    config_check result;
    check_config(path, &result);
    if (result.outcome == config_unreadable) {
        console_printf(console_out, "failed to open %s\n", file.c_str());
        return 2;
    }
    for (const config_finding& finding : result.findings) {
        console_printf(console_out, "%s:%ld: %s\n", file.c_str(), finding.line, finding.message.c_str());
    }
    std::string id = result.outcome == config_loaded ? "hardware id " + utf8_text(configured_hardware_id)
                                                     : std::string("no hardware id");
    // %zu is not known to every C runtime padmap runs on.
    unsigned long findings = static_cast<unsigned long>(result.findings.size());
    console_printf(console_out, "%s: %s, %d key%s mapped, %lu finding%s\n", file.c_str(), id.c_str(),
                   result.keys_mapped, plural(static_cast<size_t>(result.keys_mapped)), findings, plural(findings));
    return result.findings.empty() ? 0 : 1;
}
