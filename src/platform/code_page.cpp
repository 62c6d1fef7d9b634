#include "platform/code_page.h"

#include "platform/locale.h"

namespace zor {

uint32_t AnsiCodePageForLcid(uint32_t lcid) {
  switch (lcid) {
    case kLcidChineseChina:
    case kLcidChineseSingapore:
      return kCodePageSimplifiedChinese;
    case kLcidChineseTaiwan:
    case kLcidChineseHongKong:
      return kCodePageTraditionalChinese;
    default:
      return kCodePageWesternEurope;
  }
}

uint32_t AnsiCodePage() {
  return AnsiCodePageForLcid(GetSystemDefaultLCID());
}

bool IsLeadByte(uint8_t b, uint32_t codePage) {
  switch (codePage) {
    case 932:
      return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950:
      return b >= 0x81 && b <= 0xFE;
    default:
      return false;
  }
}

std::string CopyMbcs(std::string_view text, int64_t index, int64_t count, uint32_t codePage) {
  if (count < 1) return {};
  if (index < 1) index = 1;
  if (index > static_cast<int64_t>(text.size())) return {};
  size_t start = static_cast<size_t>(index - 1);
  // Walk the characters up to `start`; landing past it means `start` is a second byte.
  size_t pos = 0;
  while (pos < start) {
    const size_t width = IsLeadByte(static_cast<uint8_t>(text[pos]), codePage) ? 2 : 1;
    if (pos + width > start) break;
    pos += width;
  }
  start = pos;
  const size_t available = text.size() - start;
  const size_t length =
      static_cast<uint64_t>(count) < available ? static_cast<size_t>(count) : available;
  std::string_view copy = text.substr(start, length);
  // Drop a lead byte whose second byte was not copied.
  for (size_t i = 0; i < copy.size();) {
    if (IsLeadByte(static_cast<uint8_t>(copy[i]), codePage)) {
      if (i + 1 == copy.size()) {
        copy.remove_suffix(1);
        break;
      }
      i += 2;
    } else {
      ++i;
    }
  }
  return std::string(copy);
}

}  // namespace zor
