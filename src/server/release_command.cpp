#include "server/release_command.h"

#include <filesystem>
#include <limits>
#include <map>
#include <ostream>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "server/release_manifest_check.h"
#include "update/release_signature.h"

namespace zor {

const char* const kReleaseUsage =
    "Usage: zorrelease keygen SECRET_FILE\n"
    "       zorrelease sign --key SECRET_FILE --release DIR [--expires-days N] [--next-public "
    "KEY]\n"
    "       zorrelease refresh --key SECRET_FILE --release DIR [--expires-days N]\n"
    "       zorrelease verify --public KEY --release DIR\n"
    "\n"
    "keygen  makes a new signing key: the secret key goes into SECRET_FILE (created new with\n"
    "        mode 0600; an existing file or link is not touched), the public key is printed as\n"
    "        one line of base64. Give that line to the launchers as their \"ReleaseKey\".\n"
    "sign    writes the release manifest DIR/ZORRelease.manifest: every file of DIR with its\n"
    "        size, SHA-256, version and date, a release counter one higher than the manifest\n"
    "        it replaces, and an expiry (default 30 days). --next-public names the key that\n"
    "        will sign the next releases (key rotation). Sign again after every change.\n"
    "refresh signs the same files again with the next counter and a new expiry (the key must\n"
    "        be the one that signed the manifest), so expiries can stay short: run it from\n"
    "        cron well before the manifest expires.\n"
    "verify  checks DIR against its manifest with the public KEY (base64, or a file holding\n"
    "        it) and lists every difference; exit code 1 when there is any.\n";

namespace {

namespace fs = std::filesystem;

struct Usage {
  std::string Text;
};

std::string ReadSmallFile(const std::string& path, size_t limit) {
  const std::unique_ptr<PositionedFile> file = OpenOrFail(path, OpenMode::ReadOnly);
  if (file->Size() > static_cast<int64_t>(limit)) throw Exception(path + " is too large");
  return ReadRest(*file);
}

// Writes `text` to `path` through a new temporary beside it (never through a link) that is
// renamed over it; readable by everyone, as the server and the launchers must read it.
void WriteFileReplacing(const fs::path& path, const std::string& text) {
  ReplaceOptions options;
  options.Permissions = 0644;
  CurrentFileSystem().WriteFileAtomic(path.string(), text, options);
}

// --name value pairs after the command word.
std::map<std::string, std::string> Options(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options;
  for (size_t i = 1; i < args.size(); i += 2) {
    if (args[i].rfind("--", 0) != 0 || i + 1 >= args.size())
      throw Usage{"unexpected argument " + args[i]};
    options[args[i]] = args[i + 1];
  }
  return options;
}

std::string Required(const std::map<std::string, std::string>& options, const std::string& name) {
  auto it = options.find(name);
  if (it == options.end()) throw Usage{name + " is missing"};
  return it->second;
}

void CheckKnown(const std::map<std::string, std::string>& options,
                std::initializer_list<std::string_view> known) {
  for (const auto& [name, value] : options) {
    bool ok = false;
    for (std::string_view k : known) ok = ok || name == k;
    if (!ok) throw Usage{"unknown option " + name};
  }
}

TSecretKey ReadSecretKey(const std::string& path) {
  const auto bytes = DecodeBase64(ReadSmallFile(path, 1024), kSecretKeyBytes);
  if (!bytes) throw Exception(path + " does not hold a secret key of zorrelease keygen");
  TSecretKey key{};
  std::copy(bytes->begin(), bytes->end(), key.begin());
  return key;
}

// A public key given as its base64 text or as a file that holds it.
TPublicKey PublicKeyArgument(const std::string& value) {
  if (CurrentFileSystem().IsFile(value)) return DecodePublicKey(ReadSmallFile(value, 1024));
  return DecodePublicKey(value);
}

int64_t SecondsOf(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

std::shared_ptr<const TReleaseSnapshot> ScanRelease(const std::string& dir) {
  if (!CurrentFileSystem().IsFolder(dir))
    throw Exception("The release folder " + dir + " does not exist");
  TReleaseFolder folder(dir, ReleaseFileVersion);
  return folder.Rescan();
}

int KeyGen(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 2) throw Usage{"keygen takes one file name"};
  const std::string& path = args[1];
  if (CurrentFileSystem().Stat(path, FollowLinks::No))
    throw Exception(path + " exists; it is not overwritten");
  const TKeyPair pair = GenerateKeyPair();
  {
    // Created new with mode 0600 in the one call that makes it: nobody can open it in between,
    // and a link someone put at the name makes the call fail.
    const std::unique_ptr<PositionedFile> file =
        OpenOrFail(path, OpenMode::CreateNew, OpenOptions{.Permissions = kPrivateFileMode});
    file->SetPermissions(kPrivateFileMode);  // whatever the umask
    file->WriteAllAt(0, EncodeBase64(pair.Secret) + "\n");
    file->Close();
  }
  out << EncodeBase64(pair.Public) << "\n";
  return 0;
}

// The --expires-days option, or the default.
int ExpiryDays(const std::map<std::string, std::string>& options) {
  int days = kDefaultExpiryDays;
  if (auto it = options.find("--expires-days"); it != options.end()) {
    try {
      size_t used = 0;
      days = std::stoi(it->second, &used);
      if (used != it->second.size()) throw Usage{""};
    } catch (...) {
      days = 0;
    }
    if (days < 1 || days > kMaxExpiryDays)
      throw Usage{Format("--expires-days takes 1 to %d", {kMaxExpiryDays})};
  }
  return days;
}

uint64_t NextCounter(const std::optional<TReleaseManifest>& previous) {
  if (previous && previous->Counter == static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    throw Exception("The release counter cannot grow any further");
  return previous ? previous->Counter + 1 : 1;
}

// Signs `manifest` into DIR and says what was signed.
void WriteSigned(const std::string& dir, const TReleaseManifest& manifest, int days,
                 const TSecretKey& secret, std::ostream& out) {
  WriteFileReplacing(fs::path(dir) / std::string(kManifestFileName),
                     SignManifestBody(SerializeManifestBody(manifest), secret));
  out << Format("Signed release %d: %d files, valid for %d days, signed by %s\n",
                {manifest.Counter, manifest.Files.size(), days, EncodeBase64(PublicKeyOf(secret))});
}

// Re-signs the files of the manifest in DIR, which this key signed, with the next counter
// and a new expiry; the files are neither read nor compared again.
int Refresh(const std::vector<std::string>& args, std::ostream& out,
            std::chrono::system_clock::time_point now) {
  const auto options = Options(args);
  CheckKnown(options, {"--key", "--release", "--expires-days"});
  const TSecretKey secret = ReadSecretKey(Required(options, "--key"));
  const std::string dir = Required(options, "--release");
  const int days = ExpiryDays(options);
  const fs::path path = fs::path(dir) / std::string(kManifestFileName);
  if (!CurrentFileSystem().IsFile(path.string()))
    throw Exception("The release folder has no manifest to refresh; sign it first");
  const TPublicKey own = PublicKeyOf(secret);
  TVerifiedManifest opened;
  try {
    opened = OpenSignedManifest(ReadSmallFile(path.string(), kMaxManifestBytes + kMaxSignatureLine),
                                {&own, 1});
  } catch (const ESignatureError&) {
    throw Exception("The manifest in " + dir +
                    " is not signed with this key; only a manifest of this key is refreshed");
  }
  TReleaseManifest manifest = opened.Manifest;
  manifest.Counter = NextCounter(opened.Manifest);
  manifest.Created = SecondsOf(now);
  manifest.Expires = manifest.Created + static_cast<int64_t>(days) * 86400;
  WriteSigned(dir, manifest, days, secret, out);
  return 0;
}

int Sign(const std::vector<std::string>& args, std::ostream& out,
         std::chrono::system_clock::time_point now) {
  const auto options = Options(args);
  CheckKnown(options, {"--key", "--release", "--expires-days", "--next-public"});
  const TSecretKey secret = ReadSecretKey(Required(options, "--key"));
  const std::string dir = Required(options, "--release");
  const int days = ExpiryDays(options);
  TReleaseManifest manifest;
  if (auto it = options.find("--next-public"); it != options.end())
    manifest.NextKey = EncodeBase64(PublicKeyArgument(it->second));
  const std::shared_ptr<const TReleaseSnapshot> snapshot = ScanRelease(dir);
  const std::optional<TReleaseManifest> previous = ReadManifestBody(dir);
  manifest.Counter = NextCounter(previous);
  manifest.Created = SecondsOf(now);
  manifest.Expires = manifest.Created + static_cast<int64_t>(days) * 86400;
  TReleaseDigests digests;
  manifest.Files = ManifestFilesOf(*snapshot, digests);
  WriteSigned(dir, manifest, days, secret, out);
  return 0;
}

int Verify(const std::vector<std::string>& args, std::ostream& out,
           std::chrono::system_clock::time_point now) {
  const auto options = Options(args);
  CheckKnown(options, {"--public", "--release"});
  const TPublicKey key = PublicKeyArgument(Required(options, "--public"));
  const std::string dir = Required(options, "--release");
  const std::shared_ptr<const TReleaseSnapshot> snapshot = ScanRelease(dir);
  const fs::path path = fs::path(dir) / std::string(kManifestFileName);
  if (!CurrentFileSystem().IsFile(path.string())) {
    out << "The release folder has no manifest " << kManifestFileName << "\n";
    return 1;
  }
  const TVerifiedManifest opened = OpenSignedManifest(
      ReadSmallFile(path.string(), kMaxManifestBytes + kMaxSignatureLine), {&key, 1});
  std::vector<std::string> differences;
  if (opened.Manifest.Expires <= SecondsOf(now)) differences.push_back("the manifest has expired");
  TReleaseDigests digests;
  for (std::string& line : CompareWithManifest(*snapshot, opened.Manifest, digests))
    differences.push_back(std::move(line));
  for (const std::string& line : differences) out << line << "\n";
  if (!differences.empty()) {
    out << Format("%d differences from release %d\n",
                  {differences.size(), opened.Manifest.Counter});
    return 1;
  }
  out << Format("Release %d: all %d files match\n",
                {opened.Manifest.Counter, opened.Manifest.Files.size()});
  return 0;
}

}  // namespace

int RunReleaseCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      std::chrono::system_clock::time_point now) {
  try {
    if (args.empty()) throw Usage{"a command is missing"};
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
      out << kReleaseUsage;
      return 0;
    }
    if (args[0] == "keygen") return KeyGen(args, out);
    if (args[0] == "sign") return Sign(args, out, now);
    if (args[0] == "refresh") return Refresh(args, out, now);
    if (args[0] == "verify") return Verify(args, out, now);
    throw Usage{"unknown command " + args[0]};
  } catch (const Usage& usage) {
    err << "zorrelease: " << usage.Text << "\n" << kReleaseUsage;
    return 2;
  } catch (const std::exception& e) {
    err << "zorrelease: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace zor
