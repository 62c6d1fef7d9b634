// The look shared by every window: one CJK-capable font family for all text (the captions
// are Chinese as often as English), the font sizes of the forms, and a label escape.
#pragma once

#include <string>
#include <string_view>

namespace zor {

// Every text is drawn in one family (ui/font_choice.h): a CJK one the install step brings
// (fonts-wqy-microhei), which holds Latin letters as well, else the default sans-serif face.

// Font sizes in pixels, from the forms' font heights.
inline constexpr int kFormFontSize = 12;    // the dialogs and the progress captions
inline constexpr int kStatusFontSize = 13;  // the start window's status line and arrow
inline constexpr int kGaugeFontSize = 11;   // the percentage on a gauge

// Main thread, once before the first window: fonts, colours and the toolkit's scheme.
void InitFltkLook();

// `text` as a widget label that shows every character as it is ("@" starts a symbol in a
// label otherwise).
std::string FltkLabelText(std::string_view text);

}  // namespace zor
