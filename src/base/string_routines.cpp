#include "base/string_routines.h"

namespace zor {

namespace {
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}
bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
}  // namespace

std::string FetchToken(std::string& text, std::string_view delimiter) {
  const size_t at = delimiter.empty() ? std::string::npos : text.find(delimiter);
  std::string token;
  if (at == std::string::npos) {
    token.swap(text);
    text.clear();
  } else {
    token = text.substr(0, at);
    text.erase(0, at + delimiter.size());
  }
  return token;
}

std::string FetchTokenTrim(std::string& text, std::string_view delimiter) {
  const std::string token = FetchToken(text, delimiter);
  text = std::string(TrimLeft(text));
  return std::string(Trim(token));
}

std::string_view TrimLeft(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsBlank(text[begin])) ++begin;
  return text.substr(begin);
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

int PosFrom(std::string_view text, std::string_view part, int start) {
  if (start < 1) start = 1;
  if (part.empty() || static_cast<size_t>(start) > text.size()) return 0;
  const size_t at = text.find(part, static_cast<size_t>(start) - 1);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

std::string RightStr(std::string_view text, int count) {
  if (count <= 0) return {};
  if (static_cast<size_t>(count) >= text.size()) return std::string(text);
  size_t from = text.size() - static_cast<size_t>(count);
  while (from < text.size() && IsContinuationByte(text[from])) ++from;
  return std::string(text.substr(from));
}

void SplitToStrings(std::string_view text, std::vector<std::string>& list,
                    std::string_view delimiter) {
  list.clear();
  std::string rest(text);
  while (!rest.empty()) list.push_back(FetchToken(rest, delimiter));
}

}  // namespace zor
