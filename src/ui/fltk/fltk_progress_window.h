// The small borderless progress window the download and the uninstall show: a raised panel
// filling it, a caption at (8, 12) and a gauge at (12, 36), 257 x 21, an hourglass cursor,
// centred on the screen; the download window also has two lines below the gauge, the file
// being fetched and the bytes done of the total with the time left. It takes no input.
// While it is enabled and no modal window is open, it brings itself to the front again
// when it loses the focus.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <string>

#include "ui/fltk/fltk_gauge.h"

namespace zor {

inline constexpr int kDownloadWindowWidth = 284;
// The form's 73 pixels and two lines more for the file and the bytes and time left.
inline constexpr int kDownloadWindowHeight = 73 + 36;
inline constexpr int kUninstallWindowWidth = 280;
inline constexpr int kUninstallWindowHeight = 74;

class FltkProgressWindow : public Fl_Double_Window {
 public:
  FltkProgressWindow(int w, int h, const std::string& caption, const std::string& title);
  // Shows it and paints it at once.
  void ShowNow();
  void SetPercent(int percent) { Gauge->SetPercent(percent); }
  int Percent() const { return Gauge->Percent(); }
  // The two lines below the gauge; redrawn only when they change.
  void SetDetail(const std::string& fileLine, const std::string& bytesLine);

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  std::string Caption;
  std::string FileLine;
  std::string BytesLine;
  FltkGauge* Gauge;
};

}  // namespace zor
