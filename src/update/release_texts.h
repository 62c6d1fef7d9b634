// The messages of signed releases, in the launcher's three languages (English, traditional
// and simplified Chinese script), indexed like its message table.
#pragma once

#include <string>
#include <string_view>

namespace zor {

enum class TReleaseText {
  InvalidKey,         // the "ReleaseKey" setting is not a public key
  NoManifest,         // the server holds no manifest
  DamagedManifest,    // %s: what is wrong with it
  UntrustedManifest,  // signed with another key, or not at all
  Rollback,           // %d offered, %d accepted before
  Expired,            // %s: the expiry time (UTC)
  NotInManifest,      // %s: the file's name
  ListDiffers,        // %s: the file's name
  FileDiffers,        // %s: the file's name
  TooLong,            // %s: the file's name
  LeftOutOfList,      // %s: a signed file the server's list does not name
  SignedFileMissing,  // %s: a signed file the server says it does not have
  MainExeNotSigned,   // %s: the main program's name from "ZORSys.ini"
  SharedFolder,       // %s: the client folder others may write into
  // The update failed (%s: why) and the installed release (%d: its counter), still in place
  // as it was accepted, was started instead.
  InstalledReleaseStarted,
};

// The text in language `langIndex` (0 English, 1 traditional, 2 simplified; others English).
std::string_view ReleaseTextIn(int langIndex, TReleaseText text);

// The line the launcher logs when it has no release key.
inline constexpr std::string_view kReleaseNotVerifiedLine =
    "The release is not verified: no \"ReleaseKey\" is set, files are installed as the server "
    "sends them.";

}  // namespace zor
