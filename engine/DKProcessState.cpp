#include "engine/DKProcessState.h"

#include <clocale>
#include <string>

#include "engine/sglua/wrap_Scenegraph.h"
#include "engine/sound/SoundContext.h"
#include "port/DKDate.h"
#include "port/DKFileProblems.h"
#include "port/DKMusic.h"
#include "scenegraph/IRenderManager.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"

namespace dk::engine {

namespace {

int g_openStates = 0;
// The locale when the first state opened: a script's os.setlocale changes it for the process.
std::string g_hostLocale;

void resetProcessState() {
    DKMusicManager::resetShared();  // first: its feeder thread stops
    dk::sound::resetSoundContext();
    dk::sglua::resetLiveNodes();
    SGReleaseRenderers();
    dk::scenegraph::seedParticleRandom(1);
    DKDate::resetGameClock();
    dk::port::forgetFileProblems();
    std::setlocale(LC_ALL, g_hostLocale.c_str());
}

}  // namespace

void stateOpened() {
    if (g_openStates++ == 0) {
        const char* locale = std::setlocale(LC_ALL, nullptr);
        g_hostLocale = locale ? locale : "C";
    }
}

void stateClosed() {
    if (g_openStates > 0 && --g_openStates == 0) resetProcessState();
}

}  // namespace dk::engine
