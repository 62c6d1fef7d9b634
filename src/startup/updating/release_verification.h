// The launcher's side of signed releases. With a "ReleaseKey" (base64 Ed25519 public key
// under the client key) every update pass first fetches the release manifest, checks its
// signature against the trusted keys, that its counter is not lower than the highest the
// launcher accepted before and that it has not expired, and installs the guard that every
// download then consults (update/release_guard.h). The file list must agree with the
// manifest, and a local file whose SHA-256 differs from it is fetched again. After a pass
// that succeeded, the counter and the keys are kept in a file of their own (0600), and the
// hashes of the local files in a cache beside it (update/release_hash_cache.h), so that the
// next start reads only the files that changed since.
//
// The launcher acts only on what the verified manifest says: the list and the manifest must
// agree both ways, a configuration file the manifest holds must come from the server, files
// the previous accepted release held and this one drops are removed from the client folder.
// The state and the hash cache are trusted only when they belong to the user and nobody else
// may write them, and they are written through the file layer's exclusive replacement.
//
// Key rotation: a manifest may name the next key. Once the launcher has accepted such a
// manifest it trusts the signing key and the named one; the first manifest signed by the
// named key makes that the only trusted key (plus whatever it names in turn). Changing
// "ReleaseKey" starts over from the new key and from counter 0: the administrator vouches for
// the new key, which is how a client recovers from a compromised key whose releases carried
// a counter far ahead.
//
// The committed pass also keeps the accepted manifest itself beside the state, so that a later
// pass that fails (no server reachable, a server of another release, a refused file) can tell
// whether the folder is still exactly the installed release: every file it installs has the
// signed size and SHA-256, and no file of a newer release that a failed pass put in place
// lies beside them (the state names those releases' files before they are fetched). Only then may
// the installed release be started without an update.
//
// Without a key nothing is checked, and the start window's set-up says so in one line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "startup/updating/file_list.h"
#include "startup/updating/update_source.h"
#include "update/cached_file_digests.h"
#include "update/release_guard.h"
#include "update/release_signature.h"

namespace zor {

inline constexpr std::string_view kValueReleaseKey = "ReleaseKey";
// The file of the accepted counter and keys, in the launcher's folder.
inline constexpr std::string_view kReleaseStateFileName = "ZORRelease.state";
// The manifest of the last committed pass, in the folder of the state.
inline constexpr std::string_view kInstalledManifestFileName = "ZORRelease.installed";
// The area the manifest is fetched from: the release folder's root.
inline constexpr std::string_view kManifestArea = ".";
// How often a pass asks for the manifest while servers offer an older one than accepted.
inline constexpr int kOlderReleaseAttempts = 5;

// What the launcher accepted before.
struct TReleaseState {
  uint64_t Counter = 0;
  std::string RootKey;     // the "ReleaseKey" the keys below descend from
  std::string CurrentKey;  // signed the last accepted manifest
  std::string NextKey;     // named by it
  // The names of the accepted manifest's files, to remove what a later release drops.
  std::vector<std::string> Files;
  // Files of releases accepted since that no pass finished, recorded before any of them is
  // fetched: a failed pass, of this run or an earlier one, may have put some in place.
  std::vector<std::string> Pending;
};

// The state in `path`; an empty state when there is none, it cannot be read, or it is not a
// file of this user that only this user may write.
TReleaseState ReadReleaseState(const std::string& path);
// Writes the state (0600) through a new temporary (never through a link) renamed over `path`.
void WriteReleaseState(const std::string& path, const TReleaseState& state);

// Writes the one line on standard error that says the release is not verified, when
// `releaseKey` is empty.
void NoteUnverifiedRelease(std::string_view releaseKey);

class TReleaseVerification {
 public:
  // `releaseKey` is the setting's text (empty: no verification); `stateFile` the state's path;
  // `hashCacheFile` the path of the hash cache (empty: none, every file is read each time).
  TReleaseVerification(std::string releaseKey, std::string stateFile, int langIndex,
                       std::string hashCacheFile = {});

  bool Enabled() const { return !ReleaseKey.empty(); }

  // Start of a pass: without a key removes any guard. With one, fetches the manifest through
  // `source` into `stagingFolder` (private to the user), verifies it (`nowSeconds` is the
  // time it must not have expired by) and installs its guard. Raises `EReleaseRefused`; the
  // guard then lets nothing but the manifest through. A manifest older than the one accepted
  // before is asked for again on a new connection (behind a balancer, another server may
  // have the newer release already), up to kOlderReleaseAttempts times in all.
  void Prepare(TUpdateSource& source, const std::string& stagingFolder, int64_t nowSeconds);
  // Verifies the text of a manifest file and installs its guard (the part of `Prepare`
  // after the download).
  void Accept(std::string_view manifestText, int64_t nowSeconds);
  // Drops the manifest's own entry from the server's list and checks that every other entry
  // is part of the release with the version and date the manifest signs.
  // Every signed file the list can carry must be in it as well.
  void CheckList(TFileList& list) const;
  // True when a verified manifest is in force.
  bool HasManifest() const { return Guard && Guard->HasManifest(); }
  // True when the manifest in force holds `releaseName` (the area's folder + the name).
  bool Signs(std::string_view releaseName) const;
  // Removes from `clientFolder` the files the previous accepted release held and the one in
  // force does not, except the names in `keep` (the launcher's own files); the names removed.
  // Files of a release that an earlier pass of this run accepted but did not finish (it may
  // have installed some of them) count as held before as well.
  std::vector<std::string> RemoveDroppedFiles(const std::string& clientFolder,
                                              const std::vector<std::string>& keep);
  // True when no manifest is in force or the local file at `path` matches the signed one.
  // The hash comes from the cache while the file's identity is the one recorded.
  bool LocalFileMatches(std::string_view name, const std::string& path);
  // After a download phase: records the hash the download was verified with for the file
  // now at `path`, so that the next start need not read it.
  void NoteDownloaded(const std::string& path);
  // End of a successful pass: keeps the accepted manifest, counter and keys, and the hash
  // cache.
  void Commit();
  // After a failed pass: the counter of the committed release when `clientFolder` still holds
  // exactly it, and puts that release's guard in force (the main program must be one of its
  // files). Every file of the committed manifest that the file list carries must have its
  // signed size and SHA-256, except the names in `notInstalled` (entries the launcher never
  // fetches); a file that a release accepted since the commit holds (in this run or one
  // before) and the committed one does not must be absent. Nothing when no manifest was committed
  // under this key, or the kept manifest does not verify against the kept state.
  std::optional<uint64_t> InstalledRelease(const std::string& clientFolder,
                                           const std::vector<std::string>& notInstalled);
  // Local files read and hashed so far in this run.
  int FilesHashed() const { return Digests ? Digests->FilesHashed() : 0; }

 private:
  std::vector<TPublicKey> TrustedKeys(const TReleaseState& state) const;
  TCachedFileDigests& LocalDigests();
  // Records in the committed state the files of the release just accepted that it does not
  // name yet, before any of them is fetched.
  void NotePending(TReleaseState committed);

  std::string ReleaseKey;
  std::string StateFile;
  std::string HashCacheFile;
  std::optional<TCachedFileDigests> Digests;  // read at the first local file
  int Lang;
  std::shared_ptr<const TReleaseGuard> Guard;
  TReleaseState Accepted;
  std::string AcceptedText;  // the accepted manifest as signed
  bool HasAccepted = false;
  bool OfferedOlder = false;  // the last `Accept` refused a manifest older than the accepted
  // Of the state this run started from, and of the releases that passes of this run
  // accepted and did not finish.
  std::vector<std::string> PreviousFiles;
  std::vector<std::string> TriedFiles;  // of every release accepted since the last commit
};

}  // namespace zor
