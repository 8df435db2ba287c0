#include "app/key_loop.h"

#include "app/stop.h"

namespace {

bool handle(run_state* run, const stroke_handler& handler, int device, const stroke& received) {
    switch (handler.mode) {
    case loop_identify: return identify_stroke(run, device, received);
    case loop_monitor: return monitor_stroke(run, handler.monitor, device, received);
    case loop_remap: return remap_stroke(handler.remap, device, received);
    }
    return false;
}

}  // namespace

run_outcome run_key_loop(run_state* run, const stroke_handler& handler) {
    watch_for_stop(run->set);
    for (;;) {
        if (stop_requested()) return run_outcome{run_stopped, 0};
        remap_wait extra = {nullptr, 0, os_wait_infinite};
        if (handler.mode == loop_remap) extra = remap_before_wait(handler.remap);
        input_wait wait = wait_for_input(run->set, extra.others, extra.count, extra.limit_ms);
        switch (wait.end) {
        case input_failed: return run_outcome{run_wait_failed, os_last_error()};
        case input_over: return run_outcome{run_input_over, 0};
        case input_killed: return run_outcome{run_killed, 0};
        case input_woken: continue;
        case input_quiet:
            if (handler.mode == loop_remap) remap_quiet(handler.remap);
            continue;
        case input_other:
            if (handler.mode == loop_remap) remap_signalled(handler.remap, wait.other);
            continue;
        case input_device: break;
        }
        stroke received = {};
        int read = receive_stroke(run->set, wait.device, &received);
        if (read == receive_failed) return run_outcome{run_read_failed, os_last_error()};
        if (read == receive_partial) return run_outcome{run_read_failed, 0};
        if (read == receive_no_memory) return run_outcome{run_read_failed, os_error_no_memory};
        if (read == 0) return run_outcome{run_input_over, 0};
        if (!handle(run, handler, wait.device, received)) return run_outcome{run_done, 0};
    }
}
