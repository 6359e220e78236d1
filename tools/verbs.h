// The verbs of the tool, in groups; each group adds its subcommands to the
// application and says what runs for each.
#pragma once

#include <functional>
#include <map>

#include <CLI/CLI.hpp>

#include "media.h"

namespace tool {

// What a verb runs once the command line is parsed; returns the exit status.
using Run = std::function<int()>;
using Verbs = std::map<const CLI::App *, Run>;

void addVolumeVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs);  // format, info, check
void addFileVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs);    // ls, put, get, cat, rm, mv, dump
void addRecordVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs);  // mer, track, import-*, tags, raw
void addMountVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs);   // mount (with libfuse3)

// Prints a line on standard output unless --quiet.
void say(const std::string &line);

}  // namespace tool
