// A fetch request that names its pass's release is served only by a server of exactly that
// release; one that names none is served as always.
#include "server/release_pass_guard.h"

#include <gtest/gtest.h>

#include "intercom/ic_connection.h"
#include "support/expect_error.h"
#include "transport/ic_errors.h"
#include "update/download_settings.h"
#include "update/release_pass.h"

namespace zor {
namespace {

TVariantArray FetchArgs(std::optional<TVariant> release) {
  TVariantArray args{TVariant::Wide("Data.bin"),
                     TVariant("Libs"),
                     TVariant(0),
                     TVariant(0),
                     TVariant(0),
                     TVariant("CHS")};
  if (release) args.push_back(*release);
  return args;
}

TEST(ReleasePassGuard, OnlyAServerOfThePassesReleaseServesIt) {
  const TManifestStatus matches7{ManifestState::Matches, 7, 0};
  struct Case {
    const char* Name;
    std::optional<TVariant> Release;
    TManifestStatus Status;
    const char* Refusal;  // nullptr: served
  } const kCases[] = {
      {"no release named", std::nullopt, matches7, nullptr},
      {"no release named, folder in flux", std::nullopt, {ManifestState::Differs, 7, 3}, nullptr},
      {"an empty value", TVariant(), {ManifestState::Differs, 7, 3}, nullptr},
      {"the same release", TVariant("7"), matches7, nullptr},
      {"a newer server", TVariant("6"), matches7,
       "This server serves release 7, not release 6 of this update"},
      {"an older server", TVariant("8"), matches7,
       "This server serves release 7, not release 8 of this update"},
      {"largest counter", TVariant("18446744073709551615"), matches7,
       "This server serves release 7, not release 18446744073709551615 of this update"},
      // A damaged replica of the asked release serves it: the launcher's checks name the file.
      {"the right counter, but the folder differs",
       TVariant("7"),
       {ManifestState::Differs, 7, 1},
       nullptr},
      {"another counter, and the folder differs",
       TVariant("8"),
       {ManifestState::Differs, 7, 1},
       "This server serves release 7, not release 8 of this update"},
      {"not scanned yet",
       TVariant("7"),
       {},
       "This server cannot read its release manifest now (release 7 is asked for)"},
      {"unreadable manifest",
       TVariant("7"),
       {ManifestState::Unreadable, 0, 0},
       "This server cannot read its release manifest now (release 7 is asked for)"},
      {"no manifest",
       TVariant("7"),
       {ManifestState::None, 0, 0},
       "This server has no release manifest, and this update is of release 7"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    if (!c.Refusal) {
      EXPECT_NO_THROW(CheckPassRelease(FetchArgs(c.Release), c.Status));
      continue;
    }
    const auto error = testing::ExpectError<EExecuteError>(
        [&] { CheckPassRelease(FetchArgs(c.Release), c.Status); }, "EExecuteError", c.Refusal);
    if (error) {
      EXPECT_EQ(error->ErrorCode, kErrOtherRelease);
    }
  }
}

TEST(ReleasePassGuard, ACounterThatIsNoNumberIsAnInvalidArgument) {
  const TManifestStatus matches{ManifestState::Matches, 7, 0};
  struct Case {
    TVariant Release;
    std::string Message;
  } const kCases[] = {
      {TVariant(""), "The release counter \"\" of a fetch request is not a decimal number"},
      {TVariant("7a"), "The release counter \"7a\" of a fetch request is not a decimal number"},
      {TVariant("-7"), "The release counter \"-7\" of a fetch request is not a decimal number"},
      {TVariant("18446744073709551616"),
       "The release counter \"18446744073709551616\" of a fetch request is not a decimal number"},
      {TVariant(7), std::string(kCommandArgumentInvalidText)},
  };
  for (const Case& c : kCases) {
    const auto error = testing::ExpectError<EInvalidCommand>(
        [&] { CheckPassRelease(FetchArgs(c.Release), matches); }, "EInvalidCommand", c.Message);
    if (error) {
      EXPECT_EQ(error->ErrorCode, kErrInvalidArgument);
    }
  }
}

TEST(ReleasePass, WaitsGrowToTheLongest) {
  EXPECT_EQ(OtherReleaseWaitMs(1), 0);
  EXPECT_EQ(OtherReleaseWaitMs(2), kOtherReleaseFirstWaitMs);
  EXPECT_EQ(OtherReleaseWaitMs(3), 2 * kOtherReleaseFirstWaitMs);
  EXPECT_EQ(OtherReleaseWaitMs(kOtherReleaseAttempts), kOtherReleaseLongestWaitMs);
  EXPECT_EQ(ParseReleaseArg(ReleaseArgText(UINT64_MAX)), UINT64_MAX);
}

}  // namespace
}  // namespace zor
