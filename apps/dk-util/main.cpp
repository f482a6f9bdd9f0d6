// dk-util: the platform layer from the command line, for tests and users; and the player's
// external-function bridge run on a script.
// Exit status: 0; 1 when what was asked for is absent or unreadable (a message on standard error);
// 2 for bad usage. Paths printed are absolute.
#include <lua.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "apps/dk-util/UtilCommands.h"
#include "engine/DKEngine.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/plugins/DKPluginManager.h"

namespace {

using namespace plat::foundation;
using dk::tools::util::Args;
using dk::tools::util::failed;
using dk::tools::util::kOk;
using dk::tools::util::kUsage;
using dk::tools::util::usage;

void printLine(const std::string& text) {
    dk::tools::util::outputLine("%s", text.c_str());
}

int plist(const Args& a) {
    if (a.size() == 2 && a[0] == "show") {
        Error error;
        std::optional<Value> value = readPropertyList(a[1], &error);
        if (!value) return failed(error.message);
        printLine(value->canonicalJSON());
        return kOk;
    }
    if (a.size() == 4 && a[0] == "convert" && (a[1] == "--xml" || a[1] == "--binary")) {
        Error error;
        std::optional<Value> value = readPropertyList(a[2], &error);
        const auto format = a[1] == "--xml" ? PropertyListFormat::Xml : PropertyListFormat::Binary;
        if (!value || !writePropertyList(a[3], *value, format, &error)) return failed(error.message);
        return kOk;
    }
    if (a.size() == 4 && a[0] == "convert")
        return usage("plist convert takes --xml or --binary, not \"" + a[1] + "\"");
    return usage("plist takes show FILE or convert --xml|--binary IN OUT");
}

int bundle(const Args& a) {
    // BUNDLE info [KEY] | BUNDLE path NAME TYPE | BUNDLE paths TYPE
    const bool shaped = a.size() >= 2 && ((a[1] == "info" && a.size() <= 3) || (a[1] == "path" && a.size() == 4) ||
                                          (a[1] == "paths" && a.size() == 3));
    if (!shaped) {
        if (a.size() < 2) return usage("bundle takes BUNDLE info [KEY] | path NAME TYPE | paths TYPE");
        if (a[1] == "info") return usage("bundle info takes at most one KEY");
        if (a[1] == "path") return usage("bundle path takes NAME TYPE");
        if (a[1] == "paths") return usage("bundle paths takes TYPE");
        return usage("bundle: no subcommand \"" + a[1] + "\" (info, path or paths)");
    }
    Error error;
    std::optional<Bundle> b = Bundle::open(a[0], &error);
    if (!b) return failed(error.message);
    if (a[1] == "info") {
        const Value* v = a.size() == 3 ? b->infoValue(a[2]) : &b->infoDictionary();
        if (!v) return failed(b->path() + "/Info.plist: no key \"" + a[2] + "\"");
        printLine(v->canonicalJSON());
    } else if (a[1] == "path") {
        std::optional<std::string> path = b->pathForResource(a[2], a[3]);
        if (!path) return failed(b->path() + ": no resource \"" + a[2] + "\" of type \"" + a[3] + "\"");
        printLine(*path);
    } else {
        for (const std::string& path : b->pathsForResourcesOfType(a[2])) printLine(path);
    }
    return kOk;
}

int container(Args a) {
    constexpr const char* kContainer = "container takes [--home DIR] BUNDLE";
    if (a.size() != 1 && a.size() != 3) return usage(kContainer);
    int status = kOk;
    std::optional<Container> c = dk::tools::util::openContainer(a, status);
    if (!c) return status;
    if (!a.empty()) return usage(kContainer);
    Error error;
    for (auto dir : {&Container::documentsPath, &Container::cachesPath, &Container::applicationSupportPath,
                     &Container::preferencesPath, &Container::temporaryPath}) {
        const std::string path = ((*c).*dir)(&error);
        if (path.empty()) return failed(error.message);
        printLine(path);
    }
    return kOk;
}

int defaults(Args a) {
    // Bad usage is told before anything is read or made.
    const size_t rest = !a.empty() && a[0] == "--home" ? 3 : 1;
    const bool shaped = a.size() > rest && ((a[rest] == "get" && a.size() == rest + 2) ||
                                            (a[rest] == "set" && a.size() == rest + 3) ||
                                            (a[rest] == "remove" && a.size() == rest + 2));
    if (!shaped) {
        const std::string& sub = a.size() > rest ? a[rest] : std::string();
        if (sub.empty() || sub == "get" || sub == "set" || sub == "remove")
            return usage("defaults takes [--home DIR] BUNDLE get KEY | set KEY JSON | remove KEY");
        return usage("defaults: no subcommand \"" + sub + "\" (get, set or remove)");
    }
    std::optional<Value> newValue;
    if (a[rest] == "set") {
        std::string problem;
        newValue = Value::fromJSON(a[rest + 2], &problem);
        if (!newValue) {
            std::fprintf(stderr, "dk-util: bad JSON value: %s\n", problem.c_str());
            return kUsage;
        }
    }
    int status = kOk;
    std::optional<Container> c = dk::tools::util::openContainer(a, status);
    if (!c) return status;
    UserDefaults store(*c);
    const std::string& key = a[1];
    if (a[0] == "get") {
        std::optional<Value> v = store.objectForKey(key);
        if (!v) return failed(store.path() + ": no key \"" + key + "\"");
        printLine(v->canonicalJSON());
        return kOk;
    }
    if (a[0] == "set" && !store.setObject(std::move(*newValue), key)) return kUsage;
    if (a[0] == "remove") store.removeObjectForKey(key);
    Error error;
    return store.synchronize(&error) ? kOk : failed(error.message);
}

// An engine state on SCRIPT (no GL, no save path) whose external functions reach the plugins,
// the probe among them; the trace category "bridge" on standard output, between what the script
// prints.
int bridge(const Args& a) {
    if (a.size() != 1) return usage("bridge takes one SCRIPT");
    {
        lua_State* L = luaL_newstate();
        const bool loads = luaL_loadfile(L, a[0].c_str()) == 0;
        const std::string problem = loads ? "" : lua_tostring(L, -1);
        lua_close(L);
        if (!loads) return failed(problem);
    }
    Trace::configure("bridge", "-");
    DK_State* state = DK_NewState(1);
    state->callbacks.callExternalFunction = callExternalFunction;
    state->callbacks.externalData = state->L;
    lua_State* L = state->L;
    {
        DKPluginManager manager;
        manager.loadPluginsForGameViewController(nullptr, L, true);
        DK_Init(state, a[0].c_str(), nullptr);
    }
    DKExternalFunctionTable::destroyExternalFunctionTableForState(L);
    DK_DestroyState(state);
    // A shutdownEngine that calls out makes the table again.
    DKExternalFunctionTable::destroyExternalFunctionTableForState(L);
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    if (args.empty()) return usage("no command");
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h") return dk::tools::util::help();
    if (command == "plist") return plist(args);
    if (command == "bundle") return bundle(args);
    if (command == "container") return container(args);
    if (command == "defaults") return defaults(args);
    if (command == "bridge") return bridge(args);
    if (command == "base64") return dk::tools::util::base64Command(args);
    if (command == "sha1") return dk::tools::util::sha1Command(args);
    if (command == "profile") return dk::tools::util::profileCommand(args);
    if (command == "reachability") return dk::tools::util::reachabilityCommand(args);
    if (command == "fetch") return dk::tools::util::fetchCommand(args);
    if (command == "hardware") return dk::tools::util::hardwareCommand(args);
    if (command == "keychain") return dk::tools::util::keychainCommand(args);
    return usage("unknown command \"" + command + "\"");
}
