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

#include "apps/cli-support/CommandTable.h"

class KSPublisherContentRequest;

namespace dk::tools::kioskcli {

class ContentCommands {
public:
    explicit ContentCommands(std::function<void(const std::string&)> say);
    ~ContentCommands();
    static const std::vector<dk::tools::AreaCommand<ContentCommands>>& commands();

private:
    using Args = std::vector<dk::tools::Arg>;
    using Request = std::shared_ptr<KSPublisherContentRequest>;
    bool refuse(const std::string& why) const;
    bool done(const std::string& line = "ok") const;
    bool content(dk::tools::Call& call);
    bool request(const Args& args, const Request&);
    bool omit(const Args& args, const Request&);
    bool send(const Args& args, const Request& request);  // send, preload or cancel
    bool state(const Args& args, const Request& request);
    bool setFlag(const Args& args, const Request& request);  // overlay-now or animated
    bool closeButton(dk::tools::Call& call);
    bool purchase(dk::tools::Call& call);
    bool badge(dk::tools::Call& call);

    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace dk::tools::kioskcli
