// A message box under FLTK: a small modal window with the caption as its title, an icon for
// the kind of message, the text (wrapped when long) and the buttons of the request in the
// user-interface language, centred on the screen. Enter takes the first button; Escape and
// the close box answer as `DismissAnswer` says (a Yes/No box waits for a button).
#pragma once

#include "startup/launch/message_box.h"

namespace zor {

// Main thread: shows the box and runs the loop until it is answered.
MessageResult RunFltkMessageBox(const MessageBoxRequest& request);

}  // namespace zor
