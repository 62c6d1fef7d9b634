// Feeds arbitrary bytes to a client connection as the server's replies (through the in-memory
// pipe, with the server end closed after them) and waits for a result: every malformed reply
// must end in one of the layer's exceptions, never in a crash or a hang. The reply budgets
// and wait limits are set low, so that the fuzzer reaches the paths that end a wait or refuse
// a reply over its budget (inflated bytes, elements, keep-alives) as well.
#include <cstddef>
#include <cstdint>

#include "base/clock.h"
#include "base/exceptions.h"
#include "intercom/ic_connection.h"
#include "transport/memory_pipe_handler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  static ManualClock clock;  // pauses of the handler cost nothing
  static ScopedClock scope(clock);
  if (size == 0) return 0;
  // The first byte picks scrambling, so that both paths see the bytes.
  const bool scrambled = data[0] & 1;
  TIcConnection client(scrambled ? DefaultEncrypt : nullptr, kDefaultScrambleKey,
                       scrambled ? DefaultDecrypt : nullptr);
  auto [a, b] = MakeMemoryPipe();
  TMemoryPipeHandler* far = b.get();
  a->DefaultTimeout = 1;
  a->SimulatedTime = true;
  client.SetHandler(std::move(a));
  client.ReplyLimits.MaxPayloadBytes = 1u << 20;
  client.ReplyLimits.Decode = {1u << 20, 4096};
  client.ReplyWait = {1, 8};
  if (size > 1) far->WriteBuffer(data + 1, static_cast<int32_t>(size - 1));
  far->Close();
  try {
    for (int i = 0; i < 4; ++i) client.WaitResult(true);
  } catch (const Exception&) {
  }
  return 0;
}
