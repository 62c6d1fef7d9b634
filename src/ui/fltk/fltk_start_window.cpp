#include "ui/fltk/fltk_start_window.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include "startup/client_info/lang_messages.h"
#include "startup/launch/launcher_version.h"
#include "ui/fltk/fltk_focus.h"
#include "ui/fltk/fltk_keys.h"
#include "ui/fltk/fltk_look.h"
#include "ui/fltk/fltk_splash_art.h"

namespace zor {
namespace {

// The status line "Starting" at (12, 330); the arrow one pixel lower.
constexpr int kStatusTop = 330;
constexpr int kArrowTop = kStatusTop + 1;

}  // namespace

FltkSplashWindow::FltkSplashWindow(FltkStartWindow& view)
    : Fl_Double_Window(kStartWindowWidth, kStartWindowHeight), View(view) {
  border(0);
  end();
  position((Fl::w() - w()) / 2, (Fl::h() - h()) / 2);
}

void FltkSplashWindow::draw() {
  DrawSplashArt(w(), h(), View.Title(), LauncherVersionLine(LangIndex()));
  fl_color(FL_WHITE);
  fl_font(FL_HELVETICA_BOLD, kStatusFontSize);
  const int baseline = fl_height() - fl_descent();
  fl_draw(View.StatusLine().c_str(), kStatusLeft, kStatusTop + baseline);
  if (View.ArrowVisible())
    fl_draw(View.ArrowText().c_str(), View.ArrowLeft(), kArrowTop + baseline);
  // The thin black edge of the borderless window.
  fl_color(FL_BLACK);
  fl_rect(0, 0, w(), h());
}

int FltkSplashWindow::handle(int event) {
  switch (event) {
    case FL_FOCUS:
    case FL_UNFOCUS:
      return 1;  // takes the focus, so that F1 reaches it
    case FL_KEYBOARD:
    case FL_SHORTCUT:
      if (View.KeyDown(Fl::event_key(), Fl::event_state(FL_SHIFT) != 0,
                       Fl::event_state(FL_CTRL) != 0, Fl::event_state(FL_ALT) != 0)) {
        return 1;
      }
      break;
    default:
      break;
  }
  return Fl_Double_Window::handle(event);
}

FltkStartWindow::FltkStartWindow(std::string* title) : AppTitle(title) {
  Window = std::make_unique<FltkSplashWindow>(*this);
  Window->show();
  Window->cursor(FL_CURSOR_WAIT);
  Window->wait_for_expose();
  // F1 must reach the window under a window manager too.
  AskForKeyboardFocus(*Window);
  Fl::flush();
}

FltkStartWindow::~FltkStartWindow() {
  DownLoadForm.reset();
  Window.reset();
}

void FltkStartWindow::TitleChanged(const std::string& title) {
  TitleText = title;
  if (AppTitle) *AppTitle = title;
  Window->copy_label(title.c_str());
  Window->redraw();
}

void FltkStartWindow::StatusChanged(const std::string& text) {
  StatusText = text;
  Window->redraw();
}

void FltkStartWindow::ArrowChanged(bool visible, int left, std::string_view text) {
  if (visible == ArrowShown && left == ArrowX && text == Arrow) return;
  ArrowShown = visible;
  ArrowX = left;
  Arrow = text;
  Window->redraw();
}

void FltkStartWindow::DownloadWindowShown(const TDownloadProgressModel& window) {
  DownLoadForm = std::make_unique<FltkProgressWindow>(kDownloadWindowWidth, kDownloadWindowHeight,
                                                      window.Caption(), TitleText);
  DownLoadForm->SetPercent(window.PercentDone());
  DownLoadForm->SetDetail(window.FileName(), window.DetailLine(LangIndex()));
  DownLoadForm->ShowNow();
}

void FltkStartWindow::ProgressChanged(const TDownloadProgressModel& window) {
  if (!DownLoadForm) return;
  DownLoadForm->SetPercent(window.PercentDone());
  DownLoadForm->SetDetail(window.FileName(), window.DetailLine(LangIndex()));
}

void FltkStartWindow::DownloadWindowHidden() {
  DownLoadForm.reset();
}

void FltkStartWindow::Closed() {
  DownLoadForm.reset();
  Window->hide();
}

int FltkStartWindow::StatusWidth(const std::string& text) {
  fl_font(FL_HELVETICA_BOLD, kStatusFontSize);
  return static_cast<int>(fl_width(text.c_str()));
}

bool FltkStartWindow::KeyDown(int fltkKey, bool shift, bool ctrl, bool alt) {
  const int key = VirtualKeyOf(fltkKey);
  if (!Model || key == 0) return false;
  Model->KeyDown(key, shift, ctrl, alt);
  return true;
}

}  // namespace zor
