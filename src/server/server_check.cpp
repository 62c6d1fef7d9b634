#include "server/server_check.h"

#include <atomic>

#include "base/exceptions.h"
#include "platform/code_page.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/open_or_fail.h"
#include "platform/port_probe.h"
#include "server/dotted_address.h"
#include "server/lookup_service_table.h"
#include "server/name_table.h"
#include "server/release_name_check.h"

namespace zor {

namespace {

std::string PathText(const std::filesystem::path& path) {
  return path.string();
}

// The entry's status, nullopt when it does not exist or cannot be looked at.
std::optional<FileStatus> StatusOf(const std::filesystem::path& path) {
  try {
    return CurrentFileSystem().Stat(path.string(), FollowLinks::Yes);
  } catch (const EFileSystemError&) {
    return std::nullopt;
  }
}

bool IsFolder(const std::filesystem::path& path) {
  const std::optional<FileStatus> status = StatusOf(path);
  return status && status->Kind == FileKind::Directory;
}

// Creates a new file in `dir` (never one that exists) and removes it again; the reason when
// that fails.
std::optional<std::string> WriteProblem(const std::filesystem::path& dir) {
  static std::atomic<uint64_t> counter{0};
  FileSystem& files = CurrentFileSystem();
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string probe = (dir / (".zorserver-check-" + std::to_string(counter++))).string();
    try {
      files.Open(probe, OpenMode::CreateNew)->Close();
    } catch (const EFileSystemError& e) {
      if (e.Kind == FileErrorKind::Exists) continue;
      return SystemErrorMessage(e.ErrorCode);
    }
    try {
      files.Remove(probe);
    } catch (const EFileSystemError&) {
      // The file could be made, which is what was asked; the probe's name is unique.
    }
    return std::nullopt;
  }
  return std::string("a new file cannot be made in it");
}

// `path` made absolute against the current folder.
std::filesystem::path Absolute(const std::filesystem::path& path) {
  if (path.is_absolute()) return path;
  return std::filesystem::path(CurrentFolder()) / path;
}

// A folder the server writes into: it exists and takes a new file, or it can be made below
// its nearest existing parent.
std::optional<std::string> WritableFolderProblem(const std::string& what,
                                                 const std::filesystem::path& dir) {
  if (const std::optional<FileStatus> status = StatusOf(dir)) {
    if (status->Kind != FileKind::Directory)
      return "The " + what + " " + PathText(dir) + " is not a folder";
    if (auto problem = WriteProblem(dir))
      return "The " + what + " " + PathText(dir) + " cannot be written: " + *problem;
    return std::nullopt;
  }
  std::filesystem::path parent = Absolute(dir).parent_path();
  while (!parent.empty() && !StatusOf(parent) && parent != parent.root_path())
    parent = parent.parent_path();
  if (!IsFolder(parent))
    return "The " + what + " " + PathText(dir) +
           " does not exist and cannot be made: " + PathText(parent) + " is not a folder";
  if (auto problem = WriteProblem(parent))
    return "The " + what + " " + PathText(dir) + " does not exist and cannot be made in " +
           PathText(parent) + ": " + *problem;
  return std::nullopt;
}

// The log file is appended to, or made in a folder that exists (the server makes no folder
// for it).
std::optional<std::string> LogFileProblem(const std::filesystem::path& file) {
  if (const std::optional<FileStatus> status = StatusOf(file)) {
    if (status->Kind == FileKind::Directory)
      return "The log file " + PathText(file) + " is a folder";
    try {
      // Never through a link at the name.
      OpenOrFail(file.string(), OpenMode::Append, OpenOptions{.Permissions = kPrivateFileMode});
    } catch (const std::exception&) {
      return "The log file " + PathText(file) + " cannot be appended to";
    }
    return std::nullopt;
  }
  const std::filesystem::path folder =
      file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
  if (!IsFolder(folder))
    return "The log file " + PathText(file) + " cannot be made: its folder does not exist";
  if (auto problem = WriteProblem(folder))
    return "The log file " + PathText(file) + " cannot be made: " + *problem;
  return std::nullopt;
}

template <typename Table>
std::optional<std::string> TableProblem(const std::string& what,
                                        const std::filesystem::path& file) {
  if (file.empty()) return "The " + what + " is not given";
  try {
    (void)Table::Load(file.string());
  } catch (const std::exception& e) {
    return "The " + what + " " + PathText(file) + " cannot be used: " + e.what();
  }
  return std::nullopt;
}

// Ports below this need a privilege to be bound.
constexpr uint16_t kFirstUnprivilegedPort = 1024;

void CheckPort(const TServerCheckPort& port, const PortProbe& probe, const ListenerProbe& listening,
               TServerCheckResult& result) {
  uint32_t address = 0;
  if (!port.Address.empty()) {
    const auto bytes = ParseDottedAddress(port.Address);
    if (!bytes) {
      result.Problems.push_back("The address " + port.Address + " of the " + port.Service +
                                " is not a dotted IPv4 address");
      return;
    }
    address = (uint32_t{(*bytes)[0]} << 24) | (uint32_t{(*bytes)[1]} << 16) |
              (uint32_t{(*bytes)[2]} << 8) | (*bytes)[3];
  }
  const int error =
      probe ? probe(port.Kind, address, port.Port) : ProbeLocalPort(port.Kind, address, port.Port);
  if (error == 0) return;
  const std::string where = std::string(port.Kind == SocketKind::Stream ? "TCP" : "UDP") +
                            " port " + std::to_string(port.Port) + " on " +
                            (port.Address.empty() ? "0.0.0.0" : port.Address) + " for the " +
                            port.Service;
  if (port.Port < kFirstUnprivilegedPort && IsBindPrivilegeError(error)) {
    if (port.Kind == SocketKind::Stream) {
      if (listening ? listening(address, port.Port) : TcpListenerAt(address, port.Port)) {
        result.Problems.push_back(where + " is in use: something listens on it");
        return;
      }
      result.Notes.push_back(where +
                             ": nothing listens on it; this user may not bind ports below 1024, "
                             "zorserver.service grants that (CAP_NET_BIND_SERVICE)");
      return;
    }
    result.Notes.push_back(where +
                           ": this user may not bind ports below 1024 and cannot tell whether "
                           "it is free; zorserver.service grants that (CAP_NET_BIND_SERVICE)");
    return;
  }
  result.Problems.push_back(where + " cannot be taken: " + SocketErrorText(error));
}

}  // namespace

std::optional<std::string> ReleaseFolderProblem(const std::filesystem::path& dir) {
  if (dir.empty())
    return std::string("No release folder: give --release DIR (or the setting ReleaseFolder)");
  FileSystem& files = CurrentFileSystem();
  try {
    const std::optional<FileStatus> status = files.Stat(dir.string(), FollowLinks::Yes);
    if (!status) return "The release folder " + PathText(dir) + " does not exist";
    if (status->Kind != FileKind::Directory)
      return "The release folder " + PathText(dir) + " is not a folder";
    (void)files.List(dir.string());
  } catch (const EFileSystemError& e) {
    return "The release folder " + PathText(dir) +
           " cannot be read: " + SystemErrorMessage(e.ErrorCode);
  }
  return std::nullopt;
}

void RequireReleaseFolder(const std::filesystem::path& dir) {
  if (auto problem = ReleaseFolderProblem(dir)) throw Exception(*problem);
}

TServerCheckResult CheckServerSetup(const TServerCheckSubject& subject, const PortProbe& probe,
                                    const ListenerProbe& listening) {
  TServerCheckResult result;
  auto add = [&](std::optional<std::string> problem) {
    if (problem) result.Problems.push_back(std::move(*problem));
  };
  const std::optional<std::string> releaseProblem = ReleaseFolderProblem(subject.ReleaseDir);
  add(releaseProblem);
  if (!releaseProblem && subject.Language != 0) {
    std::vector<std::filesystem::path> skip = {subject.CacheDir};
    if (subject.UploadDir) skip.push_back(*subject.UploadDir);
    TReleaseFolder release(subject.ReleaseDir, nullptr, skip);
    for (const std::string& name :
         NamesOutsideCodePage(*release.Rescan(), AnsiCodePageForLcid(subject.Language)))
      result.Problems.push_back(NameOutsideCodePageText(name, subject.Language));
  }
  add(WritableFolderProblem("cache folder", subject.CacheDir));
  if (subject.UploadDir) add(WritableFolderProblem("upload folder", *subject.UploadDir));
  if (subject.LogFile) add(LogFileProblem(*subject.LogFile));
  if (subject.LookupTable) add(TableProblem<TLookupTable>("lookup table", *subject.LookupTable));
  if (subject.NamesFile) add(TableProblem<TNameTable>("names file", *subject.NamesFile));
  for (const TServerCheckPort& port : subject.Ports) CheckPort(port, probe, listening, result);
  return result;
}

}  // namespace zor
