#include "ui/fltk/fltk_progress_window.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include "ui/fltk/fltk_look.h"

namespace zor {
namespace {

constexpr int kBevelWidth = 2;
constexpr int kCaptionLeft = 8;
constexpr int kCaptionTop = 12;
constexpr int kGaugeLeft = 12;
constexpr int kGaugeTop = 36;
constexpr int kGaugeWidth = 257;
constexpr int kGaugeHeight = 21;
constexpr int kFileLineTop = 64;
constexpr int kBytesLineTop = 82;
constexpr int kDetailLeft = kGaugeLeft;

}  // namespace

FltkProgressWindow::FltkProgressWindow(int w, int h, const std::string& caption,
                                       const std::string& title)
    : Fl_Double_Window(w, h), Caption(caption) {
  copy_label(title.c_str());
  border(0);
  Gauge = new FltkGauge(kGaugeLeft, kGaugeTop, kGaugeWidth, kGaugeHeight);
  end();
  position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
}

void FltkProgressWindow::ShowNow() {
  show();
  cursor(FL_CURSOR_WAIT);
  wait_for_expose();
  Fl::flush();
}

void FltkProgressWindow::SetDetail(const std::string& fileLine, const std::string& bytesLine) {
  if (fileLine == FileLine && bytesLine == BytesLine) return;
  FileLine = fileLine;
  BytesLine = bytesLine;
  redraw();
}

void FltkProgressWindow::draw() {
  // The panel: a raised bevel two pixels wide around the face colour.
  fl_color(FL_BACKGROUND_COLOR);
  fl_rectf(0, 0, w(), h());
  for (int i = 0; i < kBevelWidth; ++i) {
    fl_color(FL_WHITE);
    fl_xyline(i, i, w() - 1 - i);
    fl_yxline(i, i, h() - 1 - i);
    fl_color(FL_DARK2);
    fl_xyline(i, h() - 1 - i, w() - 1 - i);
    fl_yxline(w() - 1 - i, i, h() - 1 - i);
  }
  fl_font(FL_HELVETICA, kFormFontSize);
  fl_color(FL_BLACK);
  const int baseline = fl_height() - fl_descent();
  fl_draw(Caption.c_str(), kCaptionLeft, kCaptionTop + baseline);
  // The file name is cut to the gauge's width rather than running over the edge.
  fl_push_clip(kDetailLeft, kFileLineTop, kGaugeWidth, kBytesLineTop - kFileLineTop + fl_height());
  if (!FileLine.empty()) fl_draw(FileLine.c_str(), kDetailLeft, kFileLineTop + baseline);
  if (!BytesLine.empty()) fl_draw(BytesLine.c_str(), kDetailLeft, kBytesLineTop + baseline);
  fl_pop_clip();
  draw_children();
}

int FltkProgressWindow::handle(int event) {
  if (event == FL_UNFOCUS && active() && !Fl::modal() && shown()) show();
  return Fl_Double_Window::handle(event);
}

}  // namespace zor
