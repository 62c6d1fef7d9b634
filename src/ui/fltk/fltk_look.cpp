#include "ui/fltk/fltk_look.h"

#include <FL/Fl.H>

namespace zor {

void InitFltkLook() {
  // A leading blank names the regular face, "B" the bold one; the table keeps the pointers.
  static const std::string regular = " " + std::string(kFltkFontFamily);
  static const std::string bold = "B" + std::string(kFltkFontFamily);
  Fl::set_font(FL_HELVETICA, regular.c_str());
  Fl::set_font(FL_HELVETICA_BOLD, bold.c_str());
  Fl::scheme("base");
  // The face colour of classic dialogs.
  Fl::background(212, 208, 200);
}

std::string FltkLabelText(std::string_view text) {
  std::string label;
  label.reserve(text.size());
  for (const char c : text) {
    label += c;
    if (c == '@') label += '@';
  }
  return label;
}

}  // namespace zor
