// dk-analytics-cli's `ps ...` commands: the page-view tracker driven a line at a time.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandLine.h"

namespace dk::tools::analyticscli {

// Runs `ps <args>`; each line of its answer goes to `print` (page-many answers once per page).
void runPageStats(const std::vector<dk::tools::Arg>& args, const std::function<void(const std::string&)>& print);

// A dispatch the tracker started is running, its retry delay included.
bool pageStatsBusy();

}  // namespace dk::tools::analyticscli
