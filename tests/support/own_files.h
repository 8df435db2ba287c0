#ifndef PADMAP_TESTS_SUPPORT_OWN_FILES_H
#define PADMAP_TESTS_SUPPORT_OWN_FILES_H

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

// Test support: files of this test process's own. Tests run side by side in
// other processes (ctest -j, two builds, two checkouts on one machine), so a
// file named only after its test can be written over or removed by another
// process while this one reads it. Every file a test writes goes into a
// folder that this process made and that no other process knows; the folder
// goes when the process ends.

struct own_folder {
    std::filesystem::path path;
    own_folder() {
        std::random_device seed;
        std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed());
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        // create_directory reports whether it made the folder: one another
        // process made first is never taken over.
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::filesystem::path candidate = base / ("padmap-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, error)) {
                path = candidate;
                return;
            }
        }
    }
    ~own_folder() {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove_all(path, error);
    }
};

// The folder, with a trailing separator (empty when none could be made, so
// that every file a test writes then fails to open and the test fails).
inline std::string own_folder_path() {
    static own_folder folder;
    return folder.path.empty() ? std::string("/nonexistent-padmap-test-folder/") : folder.path.u8string() + "/";
}

// A path in the folder for the name (UTF-8).
inline std::string own_path(const std::string& name) {
    return own_folder_path() + name;
}

// Writes the bytes to the named file in the folder; returns its path.
inline std::string write_own_file(const std::string& name, const std::string& bytes) {
    std::string path = own_path(name);
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << bytes;
    return path;
}

#endif
