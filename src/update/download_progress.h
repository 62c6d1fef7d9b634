// The counters behind the download gauge: the bytes to fetch in this download phase and the
// bytes credited so far. Download jobs add with atomic operations; the user interface reads
// both from its timer without locking. And the flag that says the application is closing,
// which ends retry and wait loops of the download.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace zor {

std::atomic<int64_t>& DownloadTotal();
std::atomic<int64_t>& DownloadedBytes();
// The file whose transfer started or moved last ("" before the first of a phase), for the
// progress window.
std::string CurrentDownloadName();
void SetCurrentDownloadName(const std::string& name);

bool ApplicationTerminating();
void SetApplicationTerminating(bool terminating);

}  // namespace zor
