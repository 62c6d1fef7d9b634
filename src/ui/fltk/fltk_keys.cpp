#include "ui/fltk/fltk_keys.h"

#include <FL/Enumerations.H>

namespace zor {
namespace {

constexpr int kVirtualKeyReturn = 13;
constexpr int kVirtualKeyEscape = 27;
constexpr int kVirtualKeyF1 = 112;
constexpr int kFunctionKeys = 24;

}  // namespace

int VirtualKeyOf(int fltkKey) {
  if (fltkKey > FL_F && fltkKey <= FL_F + kFunctionKeys)
    return kVirtualKeyF1 + (fltkKey - FL_F - 1);
  if (fltkKey == FL_Enter || fltkKey == FL_KP_Enter) return kVirtualKeyReturn;
  if (fltkKey == FL_Escape) return kVirtualKeyEscape;
  if (fltkKey >= 'a' && fltkKey <= 'z') return fltkKey - 'a' + 'A';
  if (fltkKey >= '0' && fltkKey <= '9') return fltkKey;
  if (fltkKey == ' ') return ' ';
  return 0;
}

}  // namespace zor
