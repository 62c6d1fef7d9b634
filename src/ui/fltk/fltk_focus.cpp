#include "ui/fltk/fltk_focus.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
// The toolkit's X11 header brings X11's macros along; ours use the name None.
#undef None

namespace zor {

void AskForKeyboardFocus(Fl_Window& window) {
  if (!window.shown()) return;
  Fl::focus(&window);
  Display* display = fl_display;
  const ::Window xid = fl_xid(&window);
  if (display == nullptr || xid == 0) return;
  const ::Window root = DefaultRootWindow(display);
  const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  const Atom supported = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool managed = XGetWindowProperty(display, root, supported, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &after, &data) == Success &&
                       count == 1;
  if (data != nullptr) XFree(data);
  if (managed) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = active;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1;  // from an application
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  } else {
    XSetInputFocus(display, xid, RevertToParent, CurrentTime);
  }
  XFlush(display);
}

}  // namespace zor
