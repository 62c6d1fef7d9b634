// The server settings dialog without a person: it answers as a user who looks at the
// stored settings and changes nothing, that is Cancel. Nothing is looked up or written, the
// stored connection stays in force, and the caller hears "not changed". One line on the
// output says so, with the settings that stay.
#pragma once

#include <cstdio>
#include <string>

#include "startup/server_settings/server_settings_model.h"

namespace zor {

// "[<form caption>] headless: server settings kept as stored (server "x", port 768)\n"
std::string HeadlessServerSettingsNote(const TServerSettingsModel& model);
void RunHeadlessServerSettings(TServerSettingsModel& model, std::FILE* out);

}  // namespace zor
