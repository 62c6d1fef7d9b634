// The check an update makes before it downloads anything: can this user write into the
// client folder? A probe file is created there (new, private, never through a link) through
// the file layer and removed again. A read-only folder or one the user may not write into is
// then reported once, in the user's language, instead of as a failure of the first file.
#pragma once

#include <string>
#include <string_view>

namespace zor {

// The probe's name in the folder; one left by a killed run is removed and made again.
inline constexpr std::string_view kWriteProbeName = ".zor_write_probe.tmp";

// Raises `Exception` with the `FolderNotWritable` text (update_fault_texts.h) in language
// `langIndex` when `folder` (with a trailing delimiter) refuses the probe as read-only or not
// permitted, `EDiskFull` when it is full; other failures raise the file layer's error.
void CheckFolderWritable(const std::string& folder, int langIndex);

}  // namespace zor
