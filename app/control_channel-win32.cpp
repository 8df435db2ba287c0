#include "app/control_channel.h"

#include <windows.h>

#include <string>

struct control_server {
    control_server_fn serve;
    void* context;
    HANDLE pipe;
    HANDLE stop;  // set to end the thread
    HANDLE done;  // the event of the request in progress
    HANDLE thread;
};

namespace {

constexpr DWORD answer_limit_ms = 5000;
constexpr DWORD server_stop_limit_ms = 2000;
constexpr size_t request_max_bytes = 8192;

// A name of the user's session: two sessions (two users, or one user twice)
// never reach each other's padmapw.
std::wstring channel_name() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\padmap-control-" + std::to_wstring(session);
}

// Waits for an overlapped request on the pipe, or the stop. False when it
// failed, was stopped or took too long (it is then cancelled).
bool finish(control_server* server, OVERLAPPED* request, DWORD limit_ms, DWORD* bytes) {
    HANDLE both[2] = {server->stop, request->hEvent};
    DWORD woken = WaitForMultipleObjects(2, both, FALSE, limit_ms);
    if (woken != WAIT_OBJECT_0 + 1) {
        CancelIo(server->pipe);
        GetOverlappedResult(server->pipe, request, bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(server->pipe, request, bytes, FALSE) != FALSE;
}

bool connect(control_server* server) {
    OVERLAPPED request = {};
    request.hEvent = server->done;
    if (ConnectNamedPipe(server->pipe, &request)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) return true;
    if (error != ERROR_IO_PENDING) return false;
    DWORD bytes = 0;
    return finish(server, &request, INFINITE, &bytes);
}

// The request is one line; the client sends nothing more until answered.
bool read_request(control_server* server, std::string* request) {
    char piece[512];
    while (request->size() < request_max_bytes) {
        OVERLAPPED reading = {};
        reading.hEvent = server->done;
        DWORD bytes = 0;
        bool now = ReadFile(server->pipe, piece, sizeof piece, &bytes, &reading) != FALSE;
        if (!now && (GetLastError() != ERROR_IO_PENDING || !finish(server, &reading, answer_limit_ms, &bytes))) {
            return false;
        }
        request->append(piece, bytes);
        size_t end = request->find('\n');
        if (end != std::string::npos) {
            request->resize(end);
            return true;
        }
    }
    return false;
}

void write_answer(control_server* server, const std::string& answer) {
    OVERLAPPED writing = {};
    writing.hEvent = server->done;
    DWORD bytes = 0;
    bool now = WriteFile(server->pipe, answer.data(), static_cast<DWORD>(answer.size()), &bytes, &writing) != FALSE;
    if (!now && GetLastError() == ERROR_IO_PENDING) finish(server, &writing, answer_limit_ms, &bytes);
    FlushFileBuffers(server->pipe);
}

DWORD WINAPI serving_thread(void* context) {
    auto* server = static_cast<control_server*>(context);
    while (WaitForSingleObject(server->stop, 0) != WAIT_OBJECT_0) {
        if (connect(server)) {
            std::string request;
            if (read_request(server, &request)) write_answer(server, server->serve(server->context, request));
        } else if (WaitForSingleObject(server->stop, 100) == WAIT_OBJECT_0) {
            break;
        }
        DisconnectNamedPipe(server->pipe);
    }
    return 0;
}

void free_server(control_server* server) {
    if (server->thread != nullptr) CloseHandle(server->thread);
    if (server->pipe != INVALID_HANDLE_VALUE) CloseHandle(server->pipe);
    if (server->stop != nullptr) CloseHandle(server->stop);
    if (server->done != nullptr) CloseHandle(server->done);
    delete server;
}

}  // namespace

control_result ask_padmapw(const std::string& request, std::string* answer) {
    std::wstring name = channel_name();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 2 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return control_none;
        // The one instance serves somebody else: wait for it.
        if (error != ERROR_PIPE_BUSY || !WaitNamedPipeW(name.c_str(), answer_limit_ms)) return control_failed;
    }
    if (pipe == INVALID_HANDLE_VALUE) return control_failed;
    std::string line = request + "\n";
    DWORD bytes = 0;
    bool sent = WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), &bytes, nullptr) && bytes == line.size();
    answer->clear();
    char piece[512];
    // The server ends the answer by letting the connection go.
    while (sent && ReadFile(pipe, piece, sizeof piece, &bytes, nullptr) && bytes > 0) answer->append(piece, bytes);
    DWORD error = GetLastError();
    CloseHandle(pipe);
    return sent && (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || !answer->empty())
               ? control_answered
               : control_failed;
}

control_server* serve_control(control_server_fn serve, void* context) {
    auto* server = new control_server{serve, context, INVALID_HANDLE_VALUE, nullptr, nullptr, nullptr};
    // The first instance of the name is this one, or there is another padmapw.
    server->pipe = CreateNamedPipeW(
        channel_name().c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096, 0, nullptr);
    server->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (server->pipe != INVALID_HANDLE_VALUE && server->stop != nullptr && server->done != nullptr) {
        server->thread = CreateThread(nullptr, 0, serving_thread, server, 0, nullptr);
    }
    if (server->thread == nullptr) {
        free_server(server);
        return nullptr;
    }
    return server;
}

void stop_control_server(control_server* server) {
    if (server == nullptr) return;
    SetEvent(server->stop);
    // A thread that does not end in time (a request that hangs in serve) is
    // left with its server: it ends with the process.
    if (WaitForSingleObject(server->thread, server_stop_limit_ms) == WAIT_OBJECT_0) free_server(server);
}
