// dk-kiosk-cli's content-request, close-button, purchase and badge commands (command mode):
//
//   content request PLACEMENT TOKEN SECRET      -> new | reused
//   content send|preload|cancel PLACEMENT       -> ok
//   content state PLACEMENT                     -> 0-4
//   content overlay-now PLACEMENT 0|1           -> ok
//   content animated PLACEMENT 0|1              -> ok
//   content omit OP[,OP...]                     -> ok   (delegate operations no longer answered,
//                                                        by selector; "none" answers all again)
//   close-button                                -> tapped | hidden | none   (the latest request's)
//   purchase resolve CODE                       -> ok | none   (the last purchase received)
//   badge make TOKEN SECRET PLACEMENT           -> ok
//   badge refresh|clear|test                    -> ok
//   badge size                                  -> W H CX CY
//
// Happenings: "delegate SELECTOR PLACEMENT[ ARGS]": a dismissal's type; an error as
// "DOMAIN CODE DESCRIPTION"; a reward as "NAME QUANTITY RECEIPT"; a purchase as
// "PRODUCT NAME QUANTITY RECEIPT CALLBACK".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli-support/CommandLine.h"

namespace dk::tools::kioskcli {

class ContentCommands {
public:
    explicit ContentCommands(std::function<void(const std::string&)> say);
    ~ContentCommands();
    // False when `name` is none of these commands; else `ok` tells whether it was refused.
    bool handles(const std::string& name, const std::vector<dk::tools::Arg>& args, bool& ok);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace dk::tools::kioskcli
