#include "ui/fltk/fltk_gauge.h"

#include <FL/fl_draw.H>

#include <string>

#include "ui/fltk/fltk_look.h"

namespace zor {
namespace {

constexpr Fl_Color kBarColor = FL_BLUE;
constexpr Fl_Color kEmptyColor = FL_WHITE;
constexpr Fl_Color kTextOverEmpty = FL_BLACK;
constexpr Fl_Color kTextOverBar = FL_YELLOW;  // the bar's colour inverted

}  // namespace

FltkGauge::FltkGauge(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {
  box(FL_NO_BOX);
}

void FltkGauge::SetPercent(int percent) {
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (percent == Value) return;
  Value = percent;
  redraw();
}

void FltkGauge::draw() {
  fl_color(FL_BLACK);
  fl_rect(x(), y(), w(), h());
  const int innerX = x() + 1, innerY = y() + 1, innerW = w() - 2, innerH = h() - 2;
  const int filled = innerW * Value / 100;
  fl_color(kBarColor);
  fl_rectf(innerX, innerY, filled, innerH);
  fl_color(kEmptyColor);
  fl_rectf(innerX + filled, innerY, innerW - filled, innerH);

  const std::string text = std::to_string(Value) + "%";
  fl_font(FL_HELVETICA, kGaugeFontSize);
  fl_push_clip(innerX + filled, innerY, innerW - filled, innerH);
  fl_color(kTextOverEmpty);
  fl_draw(text.c_str(), innerX, innerY, innerW, innerH, FL_ALIGN_CENTER, nullptr, 0);
  fl_pop_clip();
  if (filled > 0) {
    fl_push_clip(innerX, innerY, filled, innerH);
    fl_color(kTextOverBar);
    fl_draw(text.c_str(), innerX, innerY, innerW, innerH, FL_ALIGN_CENTER, nullptr, 0);
    fl_pop_clip();
  }
}

}  // namespace zor
