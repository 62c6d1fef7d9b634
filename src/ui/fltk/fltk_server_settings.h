// The server settings dialog under FLTK: a 354 x 186 modal dialog centred on the screen that
// draws the dialog model's controls at their places and with their captions, copies what the
// user types into the model at once, forwards clicks and Enter to it, and closes when the
// model has a modal result (or the application is ending).
//
// The lookup group box lies on top of the older manual controls (server name, computer
// picker, connection kinds, port); they are built but hidden, since a person can neither see
// nor reach them under the group box, and the keyboard focus starts in the lookup fields.
#pragma once

#include "startup/server_settings/server_settings_model.h"

namespace zor {

inline constexpr int kServerSettingsWidth = 354;
inline constexpr int kServerSettingsHeight = 186;

// Main thread: shows the dialog and runs the loop until it closes.
void RunFltkServerSettings(TServerSettingsModel& model);

}  // namespace zor
