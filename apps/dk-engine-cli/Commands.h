// The command file of dk-engine-cli: one DK_ call (or a host action) per line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/DKEngine.h"
#include "platform/gl/HeadlessGL.h"

namespace dk::tools::enginecli {

struct Host {
    DK_State* state = nullptr;
    std::unique_ptr<plat::gl::HeadlessContext> gl;
    int width = 480;
    int height = 320;
    bool failed = false;  // something the run was asked to do could not be done

    DK_State* newState();  // a state with the host's callbacks set
    void bindFrame();      // makes the context current and sets up the frame, as the player's view does
    void endFrame();       // after each update, as the player's view presents its frame
    bool screenshot(const std::string& path);
};

// Splits a line into words; double quotes group words with spaces.
std::vector<std::string> splitWords(const std::string& line);

// The commands, a line each ("  NAME ARGUMENTS"), in name order: what --help lists.
std::string commandSummary();

// Runs one command line. Returns false (after printing why on standard error) when the line is
// not a valid command.
bool runCommand(Host& host, const std::vector<std::string>& words);

}  // namespace dk::tools::enginecli
