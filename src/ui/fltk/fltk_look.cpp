#include "ui/fltk/fltk_look.h"

#include <FL/Fl.H>

#include <iostream>
#include <string>
#include <vector>

#include "ui/font_choice.h"

namespace zor {

namespace {

// The font families the display offers. The toolkit lists each face with a leading letter
// for its style (" " regular, "B" bold, "I" italic, "P" both), which is dropped here.
std::vector<std::string> InstalledFamilies() {
  std::vector<std::string> families;
  const int count = Fl::set_fonts(nullptr);
  for (int i = 0; i < count; ++i) {
    const char* name = Fl::get_font(static_cast<Fl_Font>(i));
    if (name == nullptr || name[0] == '\0') continue;
    const std::string_view face(name);
    families.emplace_back(
        std::string_view(" BIP").find(face[0]) != std::string_view::npos ? face.substr(1) : face);
  }
  return families;
}

}  // namespace

void InitFltkLook() {
  const TFontChoice font = ChooseFontFamily(InstalledFamilies());
  if (!font.HasCjk) std::cerr << "[windows] " << kNoCjkFontNote << "\n";
  // A leading blank names the regular face, "B" the bold one; the table keeps the pointers.
  static const std::string regular = " " + font.Family;
  static const std::string bold = "B" + font.Family;
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
