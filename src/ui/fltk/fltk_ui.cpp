#include "ui/fltk/fltk_ui.h"

#include <FL/Fl.H>

#include <cstdio>
#include <exception>

#include "base/exception_handler.h"
#include "base/exceptions.h"
#include "base/timer_queue.h"
#include "ui/fltk/fltk_display.h"
#include "ui/fltk/fltk_look.h"
#include "ui/fltk/fltk_loop.h"
#include "ui/fltk/fltk_message_box.h"
#include "ui/fltk/fltk_server_settings.h"
#include "ui/fltk/fltk_start_window.h"
#include "ui/launcher_start_window_run.h"

namespace zor {

FltkUi::FltkUi() {
  InitFltkLook();
  Fl::lock();  // lets other threads wake the loop with Fl::awake
  SetApplicationExceptionHandler([this](std::exception_ptr error) {
    MessageBoxRequest request;
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      request.Text = e.what();
    } catch (...) {
    }
    request.Caption = Title;
    request.Icon = MessageIcon::Error;
    ShowMessageBox(request);
  });
}

FltkUi::~FltkUi() {
  SetApplicationExceptionHandler({});
}

MessageResult FltkUi::ShowMessageBox(const MessageBoxRequest& request) {
  if (std::this_thread::get_id() != Thread) {
    // Windows are the main thread's: another thread's box is shown there.
    // Without a main-thread loop nobody can show it: it goes to standard error unanswered.
    MessageResult result = UnattendedAnswer(request.Buttons, false);
    try {
      CallOnMainThread([&] { result = RunFltkMessageBox(request); });
    } catch (const EAbort&) {
      throw;
    } catch (...) {
      const std::string line = FormatMessageBoxLine(request);
      std::fwrite(line.data(), 1, line.size(), stderr);
    }
    return result;
  }
  return RunFltkMessageBox(request);
}

void FltkUi::RunStartWindow() {
  InstallFltkWakeUp();
  struct WakeUp {
    ~WakeUp() { RemoveFltkWakeUp(); }
  } wakeUp;
  FltkStartWindow view(&Title);
  // With a person at the screen the update never gives up by itself: 0 failed passes.
  RunLauncherStartWindow(*this, view, 0,
                         [](std::chrono::milliseconds duration, const std::function<bool()>& stop) {
                           RunFltkRound(duration, stop);
                         });
}

void FltkUi::RunServerSettingsDialog(TServerSettingsModel& model) {
  RunFltkServerSettings(model);
}

std::unique_ptr<UiPort> CreateFltkUi(std::string& error) {
  if (!OpenFltkDisplay(error)) return nullptr;
  return std::make_unique<FltkUi>();
}

}  // namespace zor
