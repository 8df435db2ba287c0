#ifndef PADMAP_APP_CONTROL_CHANNEL_H
#define PADMAP_APP_CONTROL_CHANNEL_H

#include <string>

// The channel through which `padmap --status` and the like, and a second
// padmapw, reach the padmapw that runs in the user's session: one request (a
// line of text) and one answer a connection. There is one channel per user
// session; a program of another session or user cannot reach it.
// app/control_channel-win32.cpp binds it to a named pipe;
// app/control_channel-posix.cpp has no padmapw to reach.

enum control_result {
    control_answered,  // the answer came
    control_none,      // no padmapw runs in this session
    control_failed,    // one runs, but the request or its answer failed
};

// Sends the request and waits (a bounded time: five seconds) for the answer.
control_result ask_padmapw(const std::string& request, std::string* answer);

// The serving side, in padmapw: a thread of its own that hands each request
// to serve (on that thread) and sends back what it answers.
typedef std::string (*control_server_fn)(void* context, const std::string& request);
struct control_server;

// Starts serving; null when the channel cannot be made, or another padmapw
// of this session serves it already.
control_server* serve_control(control_server_fn serve, void* context);

// Stops serving and frees the server; waits a bounded time for its thread.
void stop_control_server(control_server* server);

#endif
