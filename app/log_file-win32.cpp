#include "app/log_file.h"

#include <windows.h>

#include "console/console.h"

namespace {

HANDLE open_for_appending(const std::u16string& path) {
    return CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void make_standard(HANDLE handle) {
    SetStdHandle(STD_OUTPUT_HANDLE, handle);
    SetStdHandle(STD_ERROR_HANDLE, handle);
}

// Each LF takes a CR before it in the file.
uint64_t bytes_written(const char* text, size_t size) {
    uint64_t bytes = size;
    for (size_t i = 0; i < size; ++i) bytes += text[i] == '\n';
    return bytes;
}

}  // namespace

bool open_log_file(log_file* file, const std::u16string& folder) {
    CreateDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()), nullptr);
    file->path = folder + u"\\padmap.log";
    file->older = folder + u"\\padmap.1.log";
    HANDLE handle = open_for_appending(file->path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(handle, &size);
    file->size = static_cast<uint64_t>(size.QuadPart);
    file->handle = reinterpret_cast<os_handle>(handle);
    make_standard(handle);
    return true;
}

log_sink_answer log_file_sink(void* context, const char* text, size_t size) {
    auto* file = static_cast<log_file*>(context);
    uint64_t adding = bytes_written(text, size);
    if (file->size > 0 && file->size + adding > log_file_limit) {
        // Where the file cannot be turned over, the log goes on growing
        // rather than losing lines.
        if (file->handle != os_null_handle) CloseHandle(reinterpret_cast<HANDLE>(file->handle));
        if (MoveFileExW(reinterpret_cast<const wchar_t*>(file->path.c_str()),
                        reinterpret_cast<const wchar_t*>(file->older.c_str()), MOVEFILE_REPLACE_EXISTING)) {
            file->size = 0;
        }
        HANDLE fresh = open_for_appending(file->path);
        file->handle = fresh != INVALID_HANDLE_VALUE ? reinterpret_cast<os_handle>(fresh) : os_null_handle;
        make_standard(fresh != INVALID_HANDLE_VALUE ? fresh : nullptr);
    }
    log_sink_answer answer = {log_sink_took, ""};
    console_answer wrote = console_write_direct(text, size, answer.why, sizeof answer.why);
    if (wrote == console_busy) answer.state = log_sink_busy;
    if (wrote == console_failed) answer.state = log_sink_failed;
    if (wrote == console_took) file->size += adding;
    return answer;
}

uint64_t log_file_length(const log_file* file) {
    LARGE_INTEGER size = {};
    if (file->handle == os_null_handle || !GetFileSizeEx(reinterpret_cast<HANDLE>(file->handle), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

std::string last_log_line(const log_file* file, uint64_t since) {
    // A line that says why is short: the end of the file holds it.
    constexpr uint64_t tail_bytes = 4096;
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(file->path.c_str()), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "";
    LARGE_INTEGER size = {};
    GetFileSizeEx(handle, &size);
    uint64_t end = static_cast<uint64_t>(size.QuadPart);
    uint64_t from = since <= end ? since : 0;
    if (end - from > tail_bytes) from = end - tail_bytes;
    std::string text(static_cast<size_t>(end - from), '\0');
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(from);
    DWORD read = 0;
    bool done = SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) &&
                ReadFile(handle, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(handle);
    if (!done) return "";
    text.resize(read);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t start = text.find_last_of('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

void close_log_file(log_file* file) {
    make_standard(nullptr);
    if (file->handle != os_null_handle) CloseHandle(reinterpret_cast<HANDLE>(file->handle));
    file->handle = os_null_handle;
}
