#include "base/format.h"

#include <cstdio>
#include <vector>

namespace zor {

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const FormatArg& a : args) list.push_back(&a);
  size_t next = 0;
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    const size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      continue;
    }
    bool left = false;
    if (i < format.size() && format[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9' && width < 1000)
      width = width * 10 + (format[i++] - '0');
    int precision = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      precision = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9' && precision < 1000)
        precision = precision * 10 + (format[i++] - '0');
    }
    if (i >= format.size() || next >= list.size()) {
      out.append(format.substr(start, (i < format.size() ? i + 1 : i) - start));
      continue;
    }
    const char conv = format[i];
    const auto& value = list[next]->Value;
    std::string piece;
    bool zeroPad = false;
    char buf[64];
    if ((conv == 'd' || conv == 'u' || conv == 'x' || conv == 'X') &&
        std::holds_alternative<int64_t>(value)) {
      const int64_t v = std::get<int64_t>(value);
      if (conv == 'd')
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
      else if (conv == 'u')
        std::snprintf(buf, sizeof buf, "%llu",
                      static_cast<unsigned long long>(v < 0 ? static_cast<uint32_t>(v) : v));
      else {
        // Negative 32-bit codes show as their unsigned 32-bit pattern.
        const unsigned long long u = (v < 0 && v >= INT32_MIN) ? static_cast<uint32_t>(v)
                                                               : static_cast<unsigned long long>(v);
        std::snprintf(buf, sizeof buf, conv == 'x' ? "%llx" : "%llX", u);
        zeroPad = true;
      }
      piece = buf;
    } else if ((conv == 'f' || conv == 'g') &&
               (std::holds_alternative<double>(value) || std::holds_alternative<int64_t>(value))) {
      const double v = std::holds_alternative<double>(value)
                           ? std::get<double>(value)
                           : static_cast<double>(std::get<int64_t>(value));
      std::snprintf(buf, sizeof buf, conv == 'f' ? "%.*f" : "%.*g",
                    precision < 0 ? (conv == 'f' ? 2 : 15) : precision, v);
      piece = buf;
    } else if (conv == 's' && std::holds_alternative<std::string>(value)) {
      piece = std::get<std::string>(value);
      if (precision >= 0 && static_cast<size_t>(precision) < piece.size()) piece.resize(precision);
    } else {
      out.append(format.substr(start, i + 1 - start));
      continue;
    }
    ++next;
    if (static_cast<int>(piece.size()) < width) {
      const size_t pad = width - piece.size();
      if (left)
        piece.append(pad, ' ');
      else
        piece.insert(0, pad, zeroPad ? '0' : ' ');
    }
    out += piece;
  }
  return out;
}

}  // namespace zor
