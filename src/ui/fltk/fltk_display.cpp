#include "ui/fltk/fltk_display.h"

// The toolkit's X11 header: the one place the windows touch the display connection itself.
#include <FL/x.H>

namespace zor {

bool OpenFltkDisplay(std::string& error) {
  if (fl_display) return true;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    const char* name = XDisplayName(nullptr);
    error = std::string("cannot open the display \"") + (name ? name : "") + "\"";
    return false;
  }
  fl_open_display(display);
  return true;
}

}  // namespace zor
