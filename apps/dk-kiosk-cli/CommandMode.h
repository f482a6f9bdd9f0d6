// dk-kiosk-cli's command mode (its first argument an option):
//
//   dk-kiosk-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]
//                [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]
//                [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]
//                [--commands FILE]
//
// Commands come from FILE, else standard input, one a line, each answered by a result line;
// happenings print as they occur. Exit status 0; 1 when the container or command file cannot be
// had; 2 for a bad command line or a refused command ("error ..."). The options are cli-support's
// with the tool's own (--pasteboards, --device, --net, --web); the content units' commands are in
// UnitCommands.h.
#pragma once

#include "apps/cli-support/CommandLine.h"

namespace dk::tools::kioskcli {

int runCommandMode(int argc, char** argv);
// The tool's whole usage, its one-shot modes' included: what --help prints.
const Usage& kioskUsage();

}  // namespace dk::tools::kioskcli
