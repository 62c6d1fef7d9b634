#include "startup/message_box.h"

#include <atomic>
#include <cstdio>

namespace zor {
namespace {

std::atomic<MessageBoxHandler*> gHandler{nullptr};

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler* handler) { gHandler.store(handler, std::memory_order_release); }

MessageResult ShowMessageBox(const MessageBoxRequest& request) {
  if (MessageBoxHandler* handler = gHandler.load(std::memory_order_acquire)) return handler->ShowMessageBox(request);
  const std::string line = FormatMessageBoxLine(request);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return UnattendedAnswer(request.Buttons, false);
}

void ShowMessage(std::string text) {
  MessageBoxRequest request;
  request.Text = std::move(text);
  ShowMessageBox(request);
}

std::string FormatMessageBoxLine(const MessageBoxRequest& request) {
  std::string line = "[";
  line += request.Caption.empty() ? std::string(kSystemDefaultCaption) : request.Caption;
  line += "] ";
  for (size_t i = 0; i < request.Text.size(); ++i) {
    if (request.Text[i] == '\r' && i + 1 < request.Text.size() && request.Text[i + 1] == '\n') continue;
    line += request.Text[i];
  }
  line += '\n';
  return line;
}

MessageResult UnattendedAnswer(MessageButtons buttons, bool confirm) {
  switch (buttons) {
    case MessageButtons::Ok:
      return MessageResult::Ok;
    case MessageButtons::OkCancel:
      return confirm ? MessageResult::Ok : MessageResult::Cancel;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
      return confirm ? MessageResult::Yes : MessageResult::No;
  }
  return MessageResult::Cancel;
}

}  // namespace zor
