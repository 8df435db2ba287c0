#include "app/control_channel.h"

// padmapw is a Windows program: here none ever runs.

control_result ask_padmapw(const std::string&, std::string*) {
    return control_none;
}

control_server* serve_control(control_server_fn, void*) {
    return nullptr;
}

void stop_control_server(control_server*) {}
