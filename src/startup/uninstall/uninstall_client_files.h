// Which files in the client's folder belong to the client and go when it is uninstalled:
// the deployment's own file names, and everything whose folder is exactly "Bpls" or "Coms".
// Anything else in the folder (the user's own files among them) stays.
#pragma once

#include <string_view>

namespace zor {

inline constexpr std::string_view kClientFileFolders[] = {"Bpls", "Coms"};

// The files this client deploys into its folder: the launcher and the main program under
// their names here and on Windows, their language companions, the cloud client library, the
// runtime libraries the client ships, and the configuration and state files the update and
// the package's start script keep.
inline constexpr std::string_view kClientFileNames[] = {
    "Client",
    "Client.exe",
    "Client.CHT",
    "IClient",
    "IClient.exe",
    "IClient.CHT",
    "NClient",
    "NClient.exe",
    "V4",
    "V4.exe",
    "V4.CHT",
    "IV4",
    "IV4.exe",
    "IV4.CHT",
    "M880CloudClient.dll",
    "Vcl50.bpl",
    "Vclx50.bpl",
    "Vcldb50.bpl",
    "Vclbde50.bpl",
    "Tee50.bpl",
    "vcljpg50.bpl",
    "vclado50.bpl",
    "teedb50.bpl",
    "midas.dll",
    "ZORInterface.tlb",
    "FR_Eng.dll",
    "FR_Zor.cht",
    "zint.dll",
    "Microsoft.VC90.CRT.manifest",
    "msvcr90.dll",
    "itextsharp.dll",
    "PDFEncrypt.dll",
    "ZORSys.ini",
    "Special/ZORSys.ini",
    "DemoLevels.ini",
    "Patch.xml",
    "DBConfig.Dat",
    "DownLoadInfo.dat",
    "ZORRelease.hashes",
    "ZORRelease.installed",
    "ZORRelease.state",
    ".package-version",  // the package's copy of the client (zor-client)
};

// True when `relativeName` (below the client's folder; '/' or '\' between parts) is one of
// the client's file names, or its folder part is exactly one of the client's file folders;
// both compared without ASCII letter case. `folder` is the client's folder; the decision
// rests on the relative name alone.
bool IsClientFile(std::string_view folder, std::string_view relativeName);

}  // namespace zor
