#pragma once

#include "cli/cli_options.h"

namespace lumiclip {

// Fills the values the command line did not set from the settings file (--settings, else the
// program's own), and gives the settings' output path for a single address. False when a settings
// file named with --settings cannot be read.
bool ApplySettingsDefaults(CliOptions* options, QString* defaultOutput, QString* error);

}  // namespace lumiclip
