#include <cstdio>
#include <string>

#include "app/platform_items.h"
#include "sim/sim_model.h"

void sim_set_said_sink(sim_said_sink sink, void* context) {
    sim_state().said_sink = sink;
    sim_state().said_context = context;
}

void sim_take_text_events(long events) {
    sim_state().text_events = events;
}

void sim_set_elevated(bool elevated) {
    sim_state().elevated = elevated;
}

namespace {

void say(const std::string& said) {
    const sim_model& model = sim_state();
    if (model.said_sink != nullptr) model.said_sink(model.said_context, said.c_str());
}

}  // namespace

uint32_t os_type_text(const char16_t*, size_t count, const char* written) {
    sim_model& model = sim_state();
    uint32_t events = static_cast<uint32_t>(2 * count);
    if (model.text_events >= 0 && static_cast<uint32_t>(model.text_events) < events) {
        events = static_cast<uint32_t>(model.text_events);
    }
    model.text_events = -1;
    if (model.said_sink != nullptr) say(std::string("text ") + written);
    return events;
}

void os_program_handed(const char* word, const char* written) {
    if (sim_state().said_sink != nullptr) say(std::string(word) + " " + written);
}

// The simulated system has no programs: what was handed is all there is to
// see, and it is noted where the loop hands it over.
bool os_start_program(item_kind, const char16_t*, const char16_t*, char* why, size_t cap) {
    if (cap > 0) why[0] = 0;
    return true;
}

bool os_elevated() {
    return sim_state().elevated;
}
