// FLTK's key codes as the virtual-key numbers the models take (F1 is 112, Enter 13).
#pragma once

namespace zor {

// The virtual-key number of an FLTK key code (`Fl::event_key()`), 0 for a key the models
// have no use for.
int VirtualKeyOf(int fltkKey);

}  // namespace zor
