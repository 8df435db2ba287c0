#include "app/check.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/platform_items.h"
#include "console/console.h"
#include "keymap/config_check.h"
#include "keymap/text.h"

namespace {

const char* plural(size_t count) {
    return count == 1 ? "" : "s";
}

struct checked_file {
    std::string shown;  // the path as UTF-8
    std::unique_ptr<config_check> result;
};

// A file that names a keyboard an earlier file names already: padmap would
// refuse the pair, so the later file's id line says so.
void find_ids_named_twice(std::vector<checked_file>& files) {
    for (size_t later = 1; later < files.size(); ++later) {
        config_check& b = *files[later].result;
        if (b.outcome != config_loaded) continue;
        for (size_t earlier = 0; earlier < later; ++earlier) {
            const config_check& a = *files[earlier].result;
            if (a.outcome != config_loaded) continue;
            if (!names_keyboard(a.loaded, b.loaded.configured_hardware_id)) continue;
            add_finding(&b, b.id_line,
                        "the hardware id is the one " + files[earlier].shown +
                            " names: padmap takes one configuration for each keyboard");
            break;
        }
    }
}

// With administrator rights remap mode refuses the lines that start
// programs: a check run in the same console says so.
void find_refused_programs(std::vector<checked_file>& files) {
    if (!os_elevated()) return;
    for (checked_file& file : files) {
        config_check& result = *file.result;
        if (result.outcome != config_loaded) continue;
        const config_items& items = result.loaded.items;
        for (int i = 0; i < items.count; ++i) {
            if (items.list[i].kind != item_text) {
                add_finding(&result, items.list[i].line, program_refusal(items, items.list[i]));
            }
        }
    }
}

// Returns 2 when the file cannot be read, 1 with findings, 0 without.
int report(const checked_file& file) {
    const config_check& result = *file.result;
    const char* name = file.shown.c_str();
    if (result.outcome == config_unreadable) {
        console_printf(console_out, "failed to open %s\n", name);
        return 2;
    }
    for (const config_finding& finding : result.findings) {
        console_printf(console_out, "%s:%ld: %s\n", name, finding.line, finding.message.c_str());
    }
    std::string id = result.outcome == config_loaded ? "hardware id " + utf8_text(result.loaded.configured_hardware_id)
                                                     : std::string("no hardware id");
    // %zu is not known to every C runtime padmap runs on.
    unsigned long findings = static_cast<unsigned long>(result.findings.size());
    std::string summary =
        std::to_string(result.keys_mapped) + " key" + plural(static_cast<size_t>(result.keys_mapped)) + " mapped, ";
    // A file with sections says how many, after the keys mapped outside them.
    int sections = result.outcome == config_loaded ? result.loaded.section_count : 0;
    if (sections > 0) summary += std::to_string(sections) + " section" + plural(static_cast<size_t>(sections)) + ", ";
    int layers = 0;
    for (int l = 0; result.outcome == config_loaded && l < result.loaded.layer_count; ++l) {
        layers += result.loaded.layers[l].line != 0;
    }
    if (layers > 0) summary += std::to_string(layers) + " layer" + plural(static_cast<size_t>(layers)) + ", ";
    int holds = 0;
    for (int k = 0; result.outcome == config_loaded && k < config_scopes; ++k) holds += result.loaded.holds[k].count;
    if (holds > 0) summary += std::to_string(holds) + " hold" + plural(static_cast<size_t>(holds)) + ", ";
    console_printf(console_out, "%s: %s, %s%lu finding%s\n", name, id.c_str(), summary.c_str(), findings,
                   plural(findings));
    return result.findings.empty() ? 0 : 1;
}

}  // namespace

int run_check(int count, const char16_t* const* paths) {
    std::vector<checked_file> files;
    for (int i = 0; i < count; ++i) {
        // A configuration with its key tables is too large for every stack.
        checked_file file = {utf8_text(paths[i]), std::unique_ptr<config_check>(new (std::nothrow) config_check)};
        if (file.result == nullptr) {
            console_print(console_out, "padmap: out of memory\n");
            return 2;
        }
        check_config(paths[i], file.result.get());
        files.push_back(std::move(file));
    }
    find_ids_named_twice(files);
    find_refused_programs(files);
    int status = 0;
    for (const checked_file& file : files) {
        int one = report(file);
        if (one > status) status = one;
    }
    return status;
}
