// The delta request's arguments as the server reads them: every malformed request is refused
// with the invalid-argument error, a signature whose shape is wrong with its reason, before
// any delta is made.
#include <gtest/gtest.h>

#include "intercom/ic_connection.h"
#include "server/delta_command.h"
#include "support/expect_error.h"
#include "transport/ic_errors.h"
#include "update/delta_codec.h"

namespace zor {
namespace {

std::vector<uint8_t> GoodSignature() {
  const std::vector<uint8_t> old(50000, 7);
  size_t offset = 0;
  return MakeDeltaSignature(static_cast<int64_t>(old.size()), [&](uint8_t* buffer, size_t size) {
    const size_t n = std::min(size, old.size() - offset);
    std::copy_n(old.data() + offset, n, buffer);
    offset += n;
    return n;
  });
}

TEST(DeltaRequest, AWellFormedRequestIsReadWhole) {
  const std::vector<uint8_t> signature = GoodSignature();
  const TDeltaRequest request =
      ParseDeltaRequest({TVariant::Wide("bpls\\Main.bpl"), TVariant("Libs"), TVariant("CHS"),
                         TVariant::Bytes(signature)});
  EXPECT_EQ(request.Name, "bpls\\Main.bpl");
  EXPECT_EQ(request.Area, "Libs");
  EXPECT_EQ(request.Lang, "CHS");
  EXPECT_EQ(request.Signature, signature);
}

TEST(DeltaRequest, MalformedRequestsAreRefusedAsInvalidArguments) {
  const std::vector<uint8_t> signature = GoodSignature();
  const std::string invalid(kCommandArgumentInvalidText);
  struct Case {
    const char* Name;
    TVariantArray Args;
    std::string Message;
  } const kCases[] = {
      {"no arguments", {}, invalid},
      {"no signature", {TVariant("a.dll"), TVariant("Libs"), TVariant("CHS")}, invalid},
      {"a name that is no string",
       {TVariant(5), TVariant("Libs"), TVariant("CHS"), TVariant::Bytes(signature)},
       invalid},
      {"a signature that is a string",
       {TVariant("a.dll"), TVariant("Libs"), TVariant("CHS"), TVariant("rs")},
       invalid},
      {"a signature of another array type",
       {TVariant("a.dll"), TVariant("Libs"), TVariant("CHS"),
        TVariant::VariantArray({TVariant(1)})},
       invalid},
      {"a signature cut inside a block",
       {TVariant("a.dll"), TVariant("Libs"), TVariant("CHS"),
        TVariant::Bytes(std::vector<uint8_t>(signature.begin(), signature.end() - 3))},
       "The delta signature is invalid: not a whole number of blocks"},
      {"an empty signature",
       {TVariant("a.dll"), TVariant("Libs"), TVariant("CHS"), TVariant::Bytes({})},
       "The delta signature is invalid: shorter than its header"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    const auto error =
        testing::ExpectError<EInvalidCommand>([&] { ParseDeltaRequest(c.Args); }, c.Message);
    if (error) {
      EXPECT_EQ(error->ErrorCode, kErrInvalidArgument);
    }
  }
}

}  // namespace
}  // namespace zor
