#ifndef PADMAP_APP_ITEM_ACTIONS_H
#define PADMAP_APP_ITEM_ACTIONS_H

#include <string>

#include "app/program_worker.h"
#include "engine/engine.h"

// Carries out an action_item of the engine: a text is typed on the system
// (one the system took in part is logged); a program is handed to the
// worker, with folder (that of the action's file) as its working folder and
// the base of a relative target. A hand-over the worker refuses is logged.
void carry_out_item(engine* core, const action& act, program_worker* worker, const std::u16string& folder,
                    engine_actions* out);

#endif
