// Opening the X display for FLTK without letting the toolkit end the process when there is
// none: the caller falls back to running without windows.
#pragma once

#include <string>

namespace zor {

// True when the display named by $DISPLAY opened; otherwise `error` says why.
bool OpenFltkDisplay(std::string& error);

}  // namespace zor
