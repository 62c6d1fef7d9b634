// Name-service datagrams: any bytes get no answer or exactly one 128-byte reply whose text,
// when it failed, ends with a zero inside the reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "server/name_service_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zor::TNameTable names =
      zor::TNameTable::Parse("shop = 10.1.2.3\nhead = 127.0.0.1\n");
  const auto reply = zor::AnswerNameRequest(std::span(data, size), names);
  if (!reply) return 0;
  const uint32_t status = (*reply)[8] | (*reply)[9] << 8 | (*reply)[10] << 16 |
                          static_cast<uint32_t>((*reply)[11]) << 24;
  if (status != 0 && !std::memchr(reply->data() + 12, 0, reply->size() - 12)) std::abort();
  return 0;
}
