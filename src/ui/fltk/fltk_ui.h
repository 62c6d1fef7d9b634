// The user-interface port with windows (FLTK on X11): message boxes, the start window with
// its download progress window, the server settings dialog and the uninstall progress
// window. Everything is drawn on the thread that created the port (the main thread); the
// update worker reaches it only through the main thread's call queue, which the window loop
// runs. Errors that escape a callback are shown in an error box with the application title.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "ui/fltk/fltk_uninstall_view.h"
#include "ui/ui_port.h"

namespace zor {

class FltkUi : public UiPort {
 public:
  FltkUi();
  ~FltkUi() override;

  UiKind Kind() const override { return UiKind::Gui; }
  MessageResult ShowMessageBox(const MessageBoxRequest& request) override;
  void RunStartWindow() override;
  void RunServerSettingsDialog(TServerSettingsModel& model) override;
  TUninstallView* UninstallView() override { return &Uninstall; }

 private:
  std::thread::id Thread = std::this_thread::get_id();
  std::string Title;  // the application title, once the start window set it
  FltkUninstallView Uninstall;
};

// The windowed port when the display opens; otherwise nullptr and `error` says why.
std::unique_ptr<UiPort> CreateFltkUi(std::string& error);

}  // namespace zor
