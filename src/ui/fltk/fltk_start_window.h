// The start window under FLTK: a borderless 482 x 362 window centred on the screen, with an
// hourglass cursor and a thin black edge, that draws the start window model (the status line
// at (12, 330) in white bold, the moving arrow beside it) over the splash, forwards its keys
// to the model, and shows the download progress window while the model has one.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <memory>
#include <string>

#include "startup/updating/start_window_model.h"
#include "ui/fltk/fltk_progress_window.h"

namespace zor {

inline constexpr int kStartWindowWidth = 482;
inline constexpr int kStartWindowHeight = 362;

class FltkStartWindow;

// The window itself: it draws what the view holds.
class FltkSplashWindow : public Fl_Double_Window {
 public:
  explicit FltkSplashWindow(FltkStartWindow& view);

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  FltkStartWindow& View;
};

class FltkStartWindow : public TStartWindowView {
 public:
  // Creates the window and shows it. `title` receives the application title.
  explicit FltkStartWindow(std::string* title = nullptr);
  ~FltkStartWindow() override;

  void Attached(TStartWindowModel* model) override { Model = model; }
  void TitleChanged(const std::string& title) override;
  void StatusChanged(const std::string& text) override;
  void ArrowChanged(bool visible, int left, std::string_view text) override;
  void DownloadWindowShown(const TDownloadProgressModel& window) override;
  void ProgressChanged(const TDownloadProgressModel& window) override;
  void DownloadWindowHidden() override;
  void Closed() override;
  int StatusWidth(const std::string& text) override;

  // For the window: what to draw and where keys go.
  const std::string& Title() const { return TitleText; }
  const std::string& StatusLine() const { return StatusText; }
  bool ArrowVisible() const { return ArrowShown; }
  int ArrowLeft() const { return ArrowX; }
  const std::string& ArrowText() const { return Arrow; }
  bool KeyDown(int fltkKey, bool shift, bool ctrl, bool alt);

 private:
  std::unique_ptr<FltkSplashWindow> Window;
  std::unique_ptr<FltkProgressWindow> DownLoadForm;
  TStartWindowModel* Model = nullptr;
  std::string* AppTitle;
  std::string TitleText;
  std::string StatusText;
  bool ArrowShown = false;
  int ArrowX = 0;
  std::string Arrow = ">";
};

}  // namespace zor
