// Asking for the keyboard focus for a window that has just appeared. Without a window
// manager the keys go to the window under the pointer; a window manager decides itself and
// may leave a borderless window (the start window) without the focus, so F1 would never
// reach it. The request goes to the window manager the way a pager asks it (the EWMH
// "_NET_ACTIVE_WINDOW" message); without one the focus is set directly.
#pragma once

class Fl_Window;

namespace zor {

// `window` must be shown.
void AskForKeyboardFocus(Fl_Window& window);

}  // namespace zor
