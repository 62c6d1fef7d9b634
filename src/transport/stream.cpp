#include "transport/stream.h"

#include <algorithm>
#include <cstring>

namespace zor {

void TMemoryStream::Seek(int64_t position) {
  Pos = std::clamp<int64_t>(position, 0, Size());
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || Pos >= Size()) return 0;
  const int64_t n = std::min<int64_t>(count, Size() - Pos);
  std::memcpy(buffer, Data.data() + Pos, static_cast<size_t>(n));
  Pos += n;
  return static_cast<int32_t>(n);
}

void TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return;
  const auto end = static_cast<size_t>(Pos) + static_cast<size_t>(count);
  if (end > Data.size()) Data.resize(end);
  std::memcpy(Data.data() + Pos, buffer, static_cast<size_t>(count));
  Pos = static_cast<int64_t>(end);
}

}  // namespace zor
