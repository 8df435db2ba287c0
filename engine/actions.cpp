#include "engine/actions.h"

void clear_actions(engine_actions* out) {
    out->count = 0;
    out->log.clear();
    out->check_keyboards = false;
    out->enrolled_device = 0;
    out->arrived_device = 0;
}
