// The process's store, uploader and session, made together for the main container, bundle and
// standard defaults in force at the call. A second start in the process on another home, or with
// another game, gets three of its own over its own files. The former three are kept, unused: a
// reference taken before stays good, an upload under way ends by itself, and coming back to the
// same home and game finds them again rather than a second connection to their file. The session
// reads a copy of the bundle it was made with, which a later main bundle does not free.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellSession.h"
#include "analytics/trackwell/UploaderThread.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"

namespace {

// What the three read at their making.
struct Surroundings {
    std::string home;
    std::string bundlePath;  // empty without a main bundle
    plat::foundation::UserDefaults* defaults = nullptr;

    bool operator==(const Surroundings&) const = default;
};

Surroundings surroundings() {
    Surroundings now;
    if (const plat::foundation::Container* container = plat::foundation::Container::main())
        now.home = container->path();
    if (const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main()) now.bundlePath = bundle->path();
    now.defaults = plat::foundation::UserDefaults::standard();
    return now;
}

struct Client {
    Surroundings made;
    std::optional<plat::foundation::Bundle> bundle;
    std::unique_ptr<TrackwellDatabase> database;
    std::unique_ptr<UploaderThread> uploader;
    std::unique_ptr<TrackwellSession> session;
};

Client& client() {
    static std::mutex mutex;
    static auto* clients = new std::vector<std::unique_ptr<Client>>;  // never freed, as said above
    Surroundings now = surroundings();
    std::lock_guard lock(mutex);
    for (const std::unique_ptr<Client>& client : *clients)
        if (client->made == now) return *client;
    auto made = std::make_unique<Client>();
    if (const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main()) made->bundle = *bundle;
    made->database = std::make_unique<TrackwellDatabase>(TrackwellDatabase::mainPlaces());
    made->uploader = std::make_unique<UploaderThread>(*made->database, plat::foundation::RunLoop::main());
    TrackwellSession::Host host;
    host.bundle = made->bundle ? &*made->bundle : nullptr;
    host.defaults = now.defaults;
    host.deviceFacts = [] { return plat::foundation::deviceFacts(); };
    made->session = std::make_unique<TrackwellSession>(*made->database, *made->uploader, std::move(host));
    made->made = std::move(now);
    clients->push_back(std::move(made));
    return *clients->back();
}

}  // namespace

TrackwellDatabase& TrackwellDatabase::sharedTrackwellDatabase() {
    return *client().database;
}

UploaderThread& UploaderThread::sharedUploaderThread() {
    return *client().uploader;
}

TrackwellSession& TrackwellSession::sharedTrackwellSession() {
    return *client().session;
}
