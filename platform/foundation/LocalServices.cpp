#include "platform/foundation/LocalServices.h"

#include <map>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/sys/ClassRegistry.h"

namespace plat::foundation {

std::string localServicePath(std::string_view service, const Container* container) {
    if (!container) container = Container::main();
    if (!container || service.empty() || service == "." || service == ".." ||
        service.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return {};
    return container->path() + "/Library/LocalServices/" + std::string(service) + ".plist";
}

std::optional<Value> readLocalService(std::string_view service, const Container* container, Error* error) {
    const std::string path = localServicePath(service, container);
    if (path.empty()) {
        fail(error, kFileReadNoSuchFileError, "no local service \"" + std::string(service) + "\"");
        return std::nullopt;
    }
    Error failure;
    std::optional<Value> value = readPropertyList(path, &failure);
    if (value && !value->dictionary()) {
        value.reset();
        fail(&failure, kPropertyListReadCorruptError, path + ": not a dictionary");
    }
    if (!value) {
        if (failure.code != kFileReadNoSuchFileError) log("local services: %s", failure.message.c_str());
        if (error) *error = std::move(failure);
    }
    return value;
}

bool hasLocalService(std::string_view service, const Container* container) {
    return readLocalService(service, container).has_value();
}

void registerLocalServiceClass(std::string className, std::string service) {
    sys::registerClass(std::move(className),
                       [service = std::move(service)] { return hasLocalService(service); });
}

namespace {
std::map<std::string, ServiceCommandHandler, std::less<>>& serviceCommands() {
    static std::map<std::string, ServiceCommandHandler, std::less<>> handlers;
    return handlers;
}
}  // namespace

void registerServiceCommand(std::string name, ServiceCommandHandler handler) {
    serviceCommands()[std::move(name)] = std::move(handler);
}

void unregisterServiceCommand(const std::string& name) {
    serviceCommands().erase(name);
}

std::function<void()> serviceCommandAction(const std::string& name, const std::vector<std::string>& arguments) {
    const auto found = serviceCommands().find(name);
    if (found == serviceCommands().end() || !found->second) return nullptr;
    return found->second(arguments);
}

}  // namespace plat::foundation
