#include "server/upload_store.h"

#include "base/format.h"
#include "platform/directories.h"

namespace zor {

bool UploadTargetTaken(const std::filesystem::path& path) {
  try {
    return CurrentFileSystem().Stat(path.string(), FollowLinks::No).has_value();
  } catch (const EFileSystemError&) {
    return true;
  }
}

void CheckUploadFolder(const std::filesystem::path& upload, const std::filesystem::path& release) {
  // Compared as the system resolves them, links and ".." included, whether they exist yet or not.
  const auto resolved = [](const std::filesystem::path& path) {
    const std::filesystem::path absolute =
        path.is_absolute() ? path : std::filesystem::path(CurrentFolder()) / path;
    return std::filesystem::path(WeaklyCanonicalPath(absolute.lexically_normal().string()));
  };
  const std::filesystem::path u = resolved(upload);
  const std::filesystem::path r = resolved(release);
  const auto within = [](const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
      if (o->empty() && std::next(o) == outer.end()) return true;  // a trailing separator
      if (i == inner.end() || *i != *o) return false;
    }
    return true;
  };
  if (within(u, r) || within(r, u))
    throw Exception(Format(kUploadInReleaseText, {upload.string(), release.string()}));
}

}  // namespace zor
