#include "update/delta_codec.h"

#include <librsync.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "base/format.h"

namespace zor {

namespace {

// Bytes handed to librsync and taken from it per step.
constexpr size_t kDeltaPiece = 65536;

[[noreturn]] void BadSignature(std::string_view why) {
  throw EDeltaFormatError(Format(kDeltaSignatureInvalidText, {why}));
}

[[noreturn]] void BadDelta(std::string_view why) {
  throw EDeltaFormatError(Format(kDeltaInvalidText, {why}));
}

uint32_t LoadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// librsync writes its own diagnostics to standard error unless told otherwise; our callers
// report failures themselves.
void SilenceLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    rs_trace_to([](rs_loglevel, char const*) {});
    rs_trace_set_level(RS_LOG_EMERG);
  });
}

struct TJobDeleter {
  void operator()(rs_job_t* job) const { rs_job_free(job); }
};
using TJob = std::unique_ptr<rs_job_t, TJobDeleter>;

struct TSignatureDeleter {
  void operator()(rs_signature_t* signature) const { rs_free_sumset(signature); }
};

// Runs `job` until it is done: input from `read`, output to `write`. Returns the input bytes
// the job left unread after its end. A callback's exception (kept in `pending` when it
// passed through librsync) comes out as it was.
size_t Drive(rs_job_t* job, const TDeltaRead& read, const TDeltaWrite& write,
             const std::function<void()>& tick, std::exception_ptr& pending,
             std::string (*what)(rs_result)) {
  std::vector<uint8_t> input(kDeltaPiece);
  std::vector<uint8_t> output(kDeltaPiece);
  rs_buffers_t buffers{};
  buffers.next_in = reinterpret_cast<char*>(input.data());
  bool stalled = false;
  for (;;) {
    // Refilled when empty, and also when the job could not move with what it had.
    if (!buffers.eof_in && (buffers.avail_in == 0 || stalled)) {
      if (buffers.avail_in == input.size()) BadDelta("a command larger than the input buffer");
      std::memmove(input.data(), buffers.next_in, buffers.avail_in);
      buffers.next_in = reinterpret_cast<char*>(input.data());
      const size_t got = read(input.data() + buffers.avail_in, input.size() - buffers.avail_in);
      buffers.avail_in += got;
      buffers.eof_in = got == 0;
    }
    buffers.next_out = reinterpret_cast<char*>(output.data());
    buffers.avail_out = output.size();
    const size_t inBefore = buffers.avail_in;
    const rs_result result = rs_job_iter(job, &buffers);
    if (pending) std::rethrow_exception(pending);
    const size_t produced = output.size() - buffers.avail_out;
    if (produced) write(output.data(), produced);
    if (result == RS_DONE) return buffers.avail_in;
    if (result != RS_BLOCKED) throw EDeltaFormatError(what(result));
    stalled = produced == 0 && buffers.avail_in == inBefore;
    if (stalled && buffers.eof_in) throw EDeltaFormatError(what(RS_INPUT_ENDED));
    if (tick) tick();
  }
}

std::string SignatureProblem(rs_result result) {
  return Format(kDeltaSignatureInvalidText, {rs_strerror(result)});
}

std::string DeltaProblem(rs_result result) {
  return Format(kDeltaInvalidText, {rs_strerror(result)});
}

std::string EncodeProblem(rs_result result) {
  return Format("The delta could not be made: %s", {rs_strerror(result)});
}

// What the patch job's copy callback reads from: the old copy, and the first failure of
// reading it, which must not pass through librsync's C frames as an exception.
struct TOldCopy {
  const TDeltaReadAt* Read;
  int64_t Size;
  std::exception_ptr Failure;
};

rs_result CopyFromOld(void* opaque, rs_long_t position, size_t* length, void** buffer) {
  auto& old = *static_cast<TOldCopy*>(opaque);
  // A copy from outside the old copy is a damaged or hostile delta.
  if (position < 0 || position >= old.Size) return RS_CORRUPT;
  const size_t wanted =
      static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(*length), old.Size - position));
  try {
    const size_t got = (*old.Read)(position, static_cast<uint8_t*>(*buffer), wanted);
    if (got == 0) return RS_INPUT_ENDED;
    *length = std::min(got, wanted);
    return RS_DONE;
  } catch (...) {
    old.Failure = std::current_exception();
    return RS_IO_ERROR;
  }
}

}  // namespace

TDeltaSignatureShape CheckDeltaSignature(std::span<const uint8_t> signature) {
  if (signature.size() < kDeltaSignatureHeaderBytes) BadSignature("shorter than its header");
  if (signature.size() > kDeltaMaxSignatureBytes) BadSignature("too large");
  TDeltaSignatureShape shape;
  shape.Magic = LoadBE32(signature.data());
  shape.BlockBytes = LoadBE32(signature.data() + 4);
  shape.StrongBytes = LoadBE32(signature.data() + 8);
  if (shape.Magic != RS_BLAKE2_SIG_MAGIC && shape.Magic != RS_RK_BLAKE2_SIG_MAGIC)
    BadSignature("not a BLAKE2 signature");
  if (shape.BlockBytes < kDeltaMinBlockBytes || shape.BlockBytes > kDeltaMaxBlockBytes)
    BadSignature("block length out of range");
  if (shape.StrongBytes < kDeltaMinStrongBytes || shape.StrongBytes > kDeltaMaxStrongBytes)
    BadSignature("strong hash length out of range");
  const size_t body = signature.size() - kDeltaSignatureHeaderBytes;
  const size_t perBlock = 4 + size_t{shape.StrongBytes};
  if (body % perBlock != 0) BadSignature("not a whole number of blocks");
  shape.Blocks = body / perBlock;
  return shape;
}

std::vector<uint8_t> MakeDeltaSignature(int64_t size, const TDeltaRead& read) {
  SilenceLibrary();
  rs_magic_number magic = RS_RK_BLAKE2_SIG_MAGIC;
  size_t blockBytes = 0;
  size_t strongBytes = 0;
  if (rs_sig_args(std::max<int64_t>(size, 0), &magic, &blockBytes, &strongBytes) != RS_DONE)
    throw EDeltaFormatError(SignatureProblem(RS_PARAM_ERROR));
  blockBytes = std::clamp<size_t>(blockBytes, kDeltaMinBlockBytes, kDeltaMaxBlockBytes);
  strongBytes = std::clamp<size_t>(strongBytes, kDeltaMinStrongBytes, kDeltaMaxStrongBytes);
  TJob job(rs_sig_begin(blockBytes, strongBytes, magic));
  if (!job) throw EDeltaFormatError(SignatureProblem(RS_MEM_ERROR));
  std::vector<uint8_t> signature;
  std::exception_ptr pending;
  Drive(
      job.get(), read,
      [&](const uint8_t* data, size_t count) {
        if (signature.size() + count > kDeltaMaxSignatureBytes) BadSignature("too large");
        signature.insert(signature.end(), data, data + count);
      },
      {}, pending, SignatureProblem);
  return signature;
}

void MakeDelta(std::span<const uint8_t> signature, const TDeltaRead& read, const TDeltaWrite& write,
               const std::function<void()>& tick) {
  SilenceLibrary();
  CheckDeltaSignature(signature);
  rs_signature_t* loaded = nullptr;
  std::exception_ptr pending;
  {
    TJob load(rs_loadsig_begin(&loaded));
    if (!load) throw EDeltaFormatError(SignatureProblem(RS_MEM_ERROR));
    size_t offset = 0;
    const size_t left = Drive(
        load.get(),
        [&](uint8_t* buffer, size_t count) {
          const size_t n = std::min(count, signature.size() - offset);
          if (n != 0) std::memcpy(buffer, signature.data() + offset, n);
          offset += n;
          return n;
        },
        [](const uint8_t*, size_t) {}, {}, pending, SignatureProblem);
    if (left != 0 || offset != signature.size()) BadSignature("bytes after its end");
  }
  const std::unique_ptr<rs_signature_t, TSignatureDeleter> owned(loaded);
  if (!loaded) BadSignature("empty");
  if (const rs_result built = rs_build_hash_table(loaded); built != RS_DONE)
    throw EDeltaFormatError(SignatureProblem(built));
  TJob job(rs_delta_begin(loaded));
  if (!job) throw EDeltaFormatError(EncodeProblem(RS_MEM_ERROR));
  Drive(job.get(), read, write, tick, pending, EncodeProblem);
}

void ApplyDelta(const TDeltaRead& delta, const TDeltaReadAt& readOld, int64_t oldSize,
                int64_t newSize, const TDeltaWrite& write) {
  SilenceLibrary();
  TOldCopy old{&readOld, oldSize, nullptr};
  TJob job(rs_patch_begin(CopyFromOld, &old));
  if (!job) throw EDeltaFormatError(DeltaProblem(RS_MEM_ERROR));
  int64_t written = 0;
  const size_t left = Drive(
      job.get(), delta,
      [&](const uint8_t* data, size_t count) {
        if (static_cast<int64_t>(count) > newSize - written) BadDelta("more bytes than announced");
        written += static_cast<int64_t>(count);
        write(data, count);
      },
      {}, old.Failure, DeltaProblem);
  if (written != newSize) BadDelta("fewer bytes than announced");
  uint8_t probe = 0;
  if (left != 0 || delta(&probe, 1) != 0) BadDelta("bytes after its end");
}

}  // namespace zor
