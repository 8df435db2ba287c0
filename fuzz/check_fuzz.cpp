// Any bytes as a configuration file, through padmap --check's reading of it.
// The check reads the file with the loader's own parsing and builds its key
// table from what the loader tells it; a run aborts when that table, or the
// outcome, differs from what the loader builds on its own, or when a finding
// stands on a line the file does not have.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "keymap/config.h"
#include "keymap/config_check.h"
#include "keymap/key_table.h"

namespace {

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "check_fuzz: %s\n", what);
    std::abort();
}

// Lines the file has: one more than its line ends, whatever encoding it is
// in, is a bound no finding may pass.
long line_bound(const uint8_t* data, size_t size) {
    long ends = 0;
    for (size_t i = 0; i < size; ++i) ends += data[i] == '\n' || data[i] == '\r';
    return ends + 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader's echo is not what is checked here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static config_check result;
    check_config_bytes(data, size, &result);
    require(std::memcmp(&result.table, &result.loaded.keys, sizeof(key_table)) == 0,
            "the check's table differs from the loader's");

    static config alone;
    config_outcome outcome = read_config_bytes(data, size, &alone, nullptr);
    require(outcome == result.outcome, "the outcome differs from the loader's own");
    require(std::memcmp(&alone.keys, &result.loaded.keys, sizeof(key_table)) == 0,
            "listening changed what the loader built");
    require(std::memcmp(alone.configured_hardware_id, result.loaded.configured_hardware_id,
                        sizeof alone.configured_hardware_id) == 0,
            "the configured id differs");
    long lines = line_bound(data, size);
    for (const config_finding& finding : result.findings) {
        require(finding.line >= 1 && finding.line <= lines, "a finding on a line the file does not have");
        require(!finding.message.empty(), "an empty finding");
    }
    // A later name counts only when no user entry that holds its code maps
    // it: a stroke with that code finds the user entry then.
    int mapped = 0;
    for (int i = 0; i < key_count; ++i) {
        const key_entry& entry = alone.keys.entries[i];
        // A stroke finds the first entry that holds its code: an unclaimed
        // user entry (code 0) after another with code 0 is never found.
        bool behind = false;
        for (int j = 0; j < i && i < first_late_key; ++j)
            behind = behind || alone.keys.entries[j].scan_code == entry.scan_code;
        if (behind) continue;
        bool claimed = false;
        if (i >= first_late_key) {
            for (int user = first_user_key; user < first_late_key; ++user) {
                const key_entry& claim = alone.keys.entries[user];
                claimed = claimed || (claim.scan_code == entry.scan_code && claim.outputs[0] != 0);
            }
        }
        mapped += entry.outputs[0] != 0 && !claimed;
    }
    require(mapped == result.keys_mapped, "the count of mapped keys is wrong");
    return 0;
}
