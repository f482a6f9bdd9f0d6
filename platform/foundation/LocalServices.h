// Library/LocalServices/ in the game's container: where the stand-ins of the phone's services
// (store, game network, social accounts, ad networks) find their configuration on this machine,
// one property list per service, NAME.plist, XML or binary, holding a dictionary. No file, or one
// that does not read as a dictionary (said on the log): the service is absent here. Each stand-in
// registers its class names with registerLocalServiceClass(className, service), asked at every
// look-up through plat::sys::hasClass. Input-script commands named SERVICE.ACTION reach the
// handler a service registers with registerServiceCommand when it comes up; none, or a handler
// answering no action, and the command is traced as ignored.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Container.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace plat::foundation {

// The service's file in `container` (null: the main one); empty when there is no container or
// `service` is no plain file name.
std::string localServicePath(std::string_view service, const Container* container = nullptr);

// The service's dictionary; nullopt when it is absent. A file that is there but does not read as
// a dictionary counts as absent too, said in one log line naming it (and in `error`).
std::optional<Value> readLocalService(std::string_view service, const Container* container = nullptr,
                                      Error* error = nullptr);
bool hasLocalService(std::string_view service, const Container* container = nullptr);

// Registers `className` with platform/sys's class look-up, present while the main container
// holds `service`'s configuration.
void registerLocalServiceClass(std::string className, std::string service);

// The input script's commands that stand for what a person or a server does to a local service
// ("store.approve", "banner.fail \"TEXT\""). The service registers a handler per command name
// (main thread; a later registration replaces it); the handler gets the arguments as the script
// reader checked them (quoted texts unquoted) and answers the action to run, or null when the
// command has nothing to act on now (traced as ignored).
using ServiceCommandHandler = std::function<std::function<void()>(const std::vector<std::string>& arguments)>;
void registerServiceCommand(std::string name, ServiceCommandHandler handler);
void unregisterServiceCommand(const std::string& name);
std::function<void()> serviceCommandAction(const std::string& name, const std::vector<std::string>& arguments);

// A command that acts on `target` alone, the object registered last for `name` (a stand-in's view
// made last): ignored once it has gone or while `applies` answers no, asked again when the action
// runs, since commands of the same instant queue behind each other.
template <class Target>
void registerServiceCommandOn(std::string name, std::weak_ptr<Target> target, std::function<bool(Target&)> applies,
                              std::function<void(Target&, const std::vector<std::string>&)> act) {
    registerServiceCommand(std::move(name), [target, applies, act](const std::vector<std::string>& arguments) {
        const std::shared_ptr<Target> now = target.lock();
        if (!now || !applies(*now)) return std::function<void()>();
        return std::function<void()>([target, applies, act, arguments] {
            if (const std::shared_ptr<Target> live = target.lock(); live && applies(*live)) act(*live, arguments);
        });
    });
}

}  // namespace plat::foundation
