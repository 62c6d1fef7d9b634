#include "startup/launch/message_box.h"

#include <atomic>
#include <cstdio>

namespace zor {
namespace {

std::atomic<MessageBoxHandler*> gHandler{nullptr};

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler* handler) {
  gHandler.store(handler, std::memory_order_release);
}

MessageResult ShowMessageBox(const MessageBoxRequest& request) {
  if (MessageBoxHandler* handler = gHandler.load(std::memory_order_acquire))
    return handler->ShowMessageBox(request);
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
  line += MessageBoxCaption(request);
  line += "] ";
  for (size_t i = 0; i < request.Text.size(); ++i) {
    if (request.Text[i] == '\r' && i + 1 < request.Text.size() && request.Text[i + 1] == '\n')
      continue;
    line += request.Text[i];
  }
  line += '\n';
  return line;
}

std::string MessageBoxCaption(const MessageBoxRequest& request) {
  return request.Caption.empty() ? std::string(kSystemDefaultCaption) : request.Caption;
}

namespace {

// True when `text` (UTF-8) holds a CJK ideograph, CJK punctuation or a full-width form.
bool HoldsChinese(std::string_view text) {
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if ((lead & 0xF0) != 0xE0) continue;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    const auto third = static_cast<unsigned char>(text[i + 2]);
    if ((second & 0xC0) != 0x80 || (third & 0xC0) != 0x80) continue;
    const unsigned codePoint = ((lead & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
    if ((codePoint >= 0x3000 && codePoint <= 0x9FFF) ||
        (codePoint >= 0xFF00 && codePoint <= 0xFFEF))
      return true;
  }
  return false;
}

}  // namespace

std::string MessageBoxTitle(const MessageBoxRequest& request, int langIndex) {
  if (!request.Caption.empty()) return request.Caption;
  if (!HoldsChinese(request.Text)) return std::string(kSystemDefaultCaption);
  return langIndex == 1 ? "錯誤" : "错误";
}

std::vector<MessageResult> MessageBoxButtonList(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok:
      return {MessageResult::Ok};
    case MessageButtons::OkCancel:
      return {MessageResult::Ok, MessageResult::Cancel};
    case MessageButtons::YesNo:
      return {MessageResult::Yes, MessageResult::No};
    case MessageButtons::YesNoCancel:
      return {MessageResult::Yes, MessageResult::No, MessageResult::Cancel};
  }
  return {MessageResult::Ok};
}

std::string MessageButtonCaption(MessageResult button, int langIndex) {
  // The system's own button texts: English, traditional script, simplified script.
  static constexpr std::string_view kCaptions[4][3] = {
      {"OK", "確定", "确定"},
      {"Cancel", "取消", "取消"},
      {"Yes", "是", "是"},
      {"No", "否", "否"},
  };
  static_assert(static_cast<int>(MessageResult::No) == 3,
                "one row per answer, in the order of MessageResult");
  const int row = static_cast<int>(button);
  const int column = (langIndex >= 0 && langIndex < 3) ? langIndex : 0;
  return std::string(kCaptions[row][column]);
}

std::optional<MessageResult> DismissAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok:
      return MessageResult::Ok;
    case MessageButtons::OkCancel:
    case MessageButtons::YesNoCancel:
      return MessageResult::Cancel;
    case MessageButtons::YesNo:
      return MessageResult::No;
  }
  return std::nullopt;
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
