// The start window's picture, drawn in code: an evening sky over three ridges of mountains
// with a river winding out of them, the launcher's emblem (a "Z" over a rising arrow, as on
// its icon), the product name and the launcher's version.
#pragma once

#include <string>

namespace zor {

// Paints the whole `width` x `height` area of the current window.
void DrawSplashArt(int width, int height, const std::string& title, const std::string& versionLine);

}  // namespace zor
