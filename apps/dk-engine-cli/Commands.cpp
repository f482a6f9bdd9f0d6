#include "apps/dk-engine-cli/Commands.h"

#include <GLES2/gl2.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "engine/sound/wrap_SoundManager.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Excerpt.h"

using dk::sound::SoundManager;

namespace dk::tools::enginecli {

namespace {

void printLuaValue(lua_State* L, int idx) {
    switch (lua_type(L, idx)) {
        case LUA_TSTRING:
        case LUA_TNUMBER:
            std::fputs(lua_tostring(L, idx), stdout);
            break;
        case LUA_TBOOLEAN:
            std::fputs(lua_toboolean(L, idx) ? "true" : "false", stdout);
            break;
        case LUA_TNIL:
            std::fputs("nil", stdout);
            break;
        default:
            std::fputs(luaL_typename(L, idx), stdout);
            break;
    }
}

void onLoadingWillStart(void*) {
    std::puts("loadingWillStart");
}
void onLoadingWillEnd(void*) {
    std::puts("loadingWillEnd");
}
void onGameDidEnd(void*) {
    std::puts("gameDidEnd");
}

int onCallExternalFunction(void*, lua_State* L) {
    std::fputs("callExternalFunction", stdout);
    for (int i = 1; i <= lua_gettop(L); ++i) {
        std::fputc(' ', stdout);
        printLuaValue(L, i);
    }
    std::fputc('\n', stdout);
    return 0;
}

struct Args {
    const std::vector<std::string>& words;  // words[0] is the command
    bool ok = true;

    const char* str(size_t i) { return words[i].c_str(); }
    double num(size_t i) {
        char* end = nullptr;
        errno = 0;
        double v = std::strtod(words[i].c_str(), &end);
        if (end == words[i].c_str() || *end != '\0' || errno == ERANGE) {
            std::fprintf(stderr, "dk-engine-cli: %s: not a number: %s\n", str(0),
                         plat::sys::excerpt(words[i]).c_str());
            ok = false;
        }
        return v;
    }
    int integer(size_t i) {
        if (words[i] == "true") return 1;
        if (words[i] == "false") return 0;
        return static_cast<int>(num(i));
    }
};

// The player's audio-interruption calls: the script's manager, read through `sharedSoundManager`.
void interruptSound(Host& h, bool begin) {
    SoundManager* manager = SoundManager_FromLuaState(h.state->L);
    if (!manager) {
        std::fprintf(stderr, "dk-engine-cli: %s: the script keeps no sound manager in sharedSoundManager\n",
                     begin ? "suspendSound" : "resumeSound");
        return;
    }
    if (begin) {
        SoundManager_Suspend(manager);
    } else {
        SoundManager_Resume(manager);
    }
}

struct Command {
    size_t minArgs;
    size_t maxArgs;
    bool needsState;
    std::function<void(Host&, Args&)> run;
};

constexpr size_t kAny = static_cast<size_t>(-1);

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"NewState", {0, 1, false, [](Host& h, Args&) { h.newState(); }}},
        {"Init",
         {1, 2, true,
          [](Host& h, Args& a) {
              h.bindFrame();
              DK_Init(h.state, a.str(1), a.words.size() > 2 ? a.str(2) : nullptr);
          }}},
        {"LoadDatabaseLib", {1, 1, true, [](Host& h, Args& a) { DK_LoadDatabaseLib(h.state, a.str(1)); }}},
        {"LoadEngineFromPath",
         {1, 1, true, [](Host& h, Args& a) { DK_LoadEngineFromPath(h.state, a.str(1)); }}},
        {"InitEngine", {0, 0, true, [](Host& h, Args&) { DK_InitEngine(h.state); }}},
        {"LoadGame",
         {1, 1, true, [](Host& h, Args& a) { std::printf("%d\n", DK_LoadGame(h.state, a.str(1))); }}},
        {"LoadInitialScene", {0, 0, true, [](Host& h, Args&) { DK_LoadInitialScene(h.state); }}},
        {"DestroyState",
         {0, 0, true,
          [](Host& h, Args&) {
              DK_DestroyState(h.state);
              h.state = nullptr;
          }}},
        {"ExtractGameAtPath",
         {1, 1, false, [](Host&, Args& a) { std::printf("%d\n", DK_ExtractGameAtPath(a.str(1))); }}},
        {"Play", {0, 0, false, [](Host& h, Args&) { DK_Play(h.state); }}},
        {"SystemInitiatedPause", {0, 0, false, [](Host& h, Args&) { DK_SystemInitiatedPause(h.state); }}},
        {"BehaviorInitiatedPause", {0, 0, false, [](Host& h, Args&) { DK_BehaviorInitiatedPause(h.state); }}},
        {"Stop", {0, 0, true, [](Host& h, Args&) { DK_Stop(h.state); }}},
        {"Update",
         {1, 1, true,
          [](Host& h, Args& a) {
              double dt = a.num(1);
              if (!a.ok) return;
              h.bindFrame();
              DK_Update(h.state, dt);
              h.endFrame();
          }}},
        {"TouchDown",
         {4, 4, true,
          [](Host& h, Args& a) {
              double x = a.num(1), y = a.num(2);
              int id = a.integer(3), count = a.integer(4);
              if (a.ok) DK_TouchDown(h.state, x, y, id, count);
          }}},
        {"TouchMoved",
         {3, 3, true,
          [](Host& h, Args& a) {
              double x = a.num(1), y = a.num(2);
              int id = a.integer(3);
              if (a.ok) DK_TouchMoved(h.state, x, y, id);
          }}},
        {"TouchUp",
         {4, 4, true,
          [](Host& h, Args& a) {
              double x = a.num(1), y = a.num(2);
              int id = a.integer(3), count = a.integer(4);
              if (a.ok) DK_TouchUp(h.state, x, y, id, count);
          }}},
        {"TouchCancel", {0, 0, true, [](Host& h, Args&) { DK_TouchCancel(h.state); }}},
        {"MouseUp",
         {2, 2, true,
          [](Host& h, Args& a) {
              double x = a.num(1), y = a.num(2);
              if (a.ok) DK_MouseUp(h.state, x, y);
          }}},
        {"Accelerated",
         {3, 3, true,
          [](Host& h, Args& a) {
              double x = a.num(1), y = a.num(2), z = a.num(3);
              if (a.ok) DK_Accelerated(h.state, x, y, z);
          }}},
        {"SetDeviceOrientation",
         {2, 2, true,
          [](Host& h, Args& a) {
              int o = a.integer(1), flag = a.integer(2);
              if (a.ok) DK_SetDeviceOrientation(h.state, o, flag);
          }}},
        {"GetInterfaceOrientation",
         {0, 0, true, [](Host& h, Args&) { std::printf("%d\n", DK_GetInterfaceOrientation(h.state)); }}},
        {"SetScreenSize",
         {2, 2, true,
          [](Host& h, Args& a) {
              int w = a.integer(1), ht = a.integer(2);
              if (a.ok) DK_SetScreenSize(h.state, w, ht);
          }}},
        {"SetShouldChangeToScene",
         {1, 1, true, [](Host& h, Args& a) { DK_SetShouldChangeToScene(h.state, a.str(1)); }}},
        {"SetVolume",
         {1, 1, true,
          [](Host& h, Args& a) {
              double v = a.num(1);
              if (a.ok) DK_SetVolume(h.state, static_cast<float>(v));
          }}},
        {"RaiseExternalEvent",
         {1, kAny, true,
          [](Host& h, Args& a) {
              std::vector<const char*> args;
              for (size_t i = 2; i < a.words.size(); ++i) args.push_back(a.str(i));
              DK_RaiseExternalEvent(h.state, a.str(1), args.data(), static_cast<int>(args.size()));
          }}},
        {"GetIntendedDisplaySize",
         {0, 0, true,
          [](Host& h, Args&) {
              int w = 0, ht = 0;
              DK_GetIntendedDisplaySize(h.state, &w, &ht);
              std::printf("%d %d\n", w, ht);
          }}},
        {"suspendSound", {0, 0, true, [](Host& h, Args&) { interruptSound(h, true); }}},
        {"resumeSound", {0, 0, true, [](Host& h, Args&) { interruptSound(h, false); }}},
        {"stacktop", {0, 0, true, [](Host& h, Args&) { std::printf("%d\n", lua_gettop(h.state->L)); }}},
        {"screenshot", {1, 1, false, [](Host& h, Args& a) { h.screenshot(a.str(1)); }}},
    };
    return table;
}

}  // namespace

DK_State* Host::newState() {
    if (state) DK_DestroyState(state);
    state = DK_NewState(1);
    state->callbacks.loadingWillStart = onLoadingWillStart;
    state->callbacks.loadingWillEnd = onLoadingWillEnd;
    state->callbacks.gameDidEnd = onGameDidEnd;
    state->callbacks.callExternalFunction = onCallExternalFunction;
    return state;
}

void Host::bindFrame() {
    if (!gl) return;
    gl->makeCurrent();
    // OpenGL ES 1.1 has no frame buffer objects: its surface is always the one drawn to.
    if (gl->api() == plat::gl::Api::ES2) glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Host::endFrame() {
    if (gl) gl->endFrame();
}

bool Host::screenshot(const std::string& path) {
    std::string error = "no GL context";
    if (gl) {
        gl->makeCurrent();
        if (plat::image::writePNG(path, gl->width(), gl->height(), gl->readPixels(), &error)) return true;
    }
    std::fprintf(stderr, "dk-engine-cli: cannot write screenshot %s: %s\n", path.c_str(), error.c_str());
    failed = true;
    return false;
}

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string commandSummary() {
    // What each command's arguments are; a command missing here still shows with its counts.
    static const std::map<std::string, std::string> kForms = {
        {"NewState", "[ANY]"},
        {"Init", "SCRIPT [SAVE_DIR/]"},
        {"LoadDatabaseLib", "PATH"},
        {"LoadEngineFromPath", "PATH"},
        {"LoadGame", "PATH (prints the result)"},
        {"ExtractGameAtPath", "PATH (prints the result)"},
        {"Update", "DT"},
        {"TouchDown", "X Y ID COUNT"},
        {"TouchMoved", "X Y ID"},
        {"TouchUp", "X Y ID COUNT"},
        {"MouseUp", "X Y"},
        {"Accelerated", "X Y Z"},
        {"SetDeviceOrientation", "ORIENTATION FLAG"},
        {"GetInterfaceOrientation", "(prints it)"},
        {"SetScreenSize", "W H"},
        {"SetShouldChangeToScene", "NAME"},
        {"SetVolume", "V"},
        {"RaiseExternalEvent", "NAME [ARG]..."},
        {"GetIntendedDisplaySize", "(prints W H)"},
        {"stacktop", "(prints the Lua stack's height)"},
        {"screenshot", "FILE.png"},
    };
    std::string out;
    for (const auto& [name, command] : commands()) {
        out += "  " + name;
        if (auto form = kForms.find(name); form != kForms.end()) {
            out += " " + form->second;
        } else if (command.maxArgs != 0) {
            out += " (" + std::to_string(command.minArgs) + (command.maxArgs == kAny ? " or more" : "-" + std::to_string(command.maxArgs)) + " arguments)";
        }
        out += "\n";
    }
    return out;
}

bool runCommand(Host& host, const std::vector<std::string>& words) {
    if (words.empty() || words[0][0] == '#') return true;
    auto it = commands().find(words[0]);
    if (it == commands().end()) {
        std::fprintf(stderr, "dk-engine-cli: unknown command: %s\n", plat::sys::excerpt(words[0]).c_str());
        return false;
    }
    const Command& cmd = it->second;
    size_t given = words.size() - 1;
    if (given < cmd.minArgs || (cmd.maxArgs != kAny && given > cmd.maxArgs)) {
        std::fprintf(stderr, "dk-engine-cli: %s: wrong number of arguments (%zu)\n", words[0].c_str(), given);
        return false;
    }
    if (cmd.needsState && !host.state) {
        std::fprintf(stderr, "dk-engine-cli: %s: no engine state\n", words[0].c_str());
        return false;
    }
    Args args{words};
    cmd.run(host, args);
    std::fflush(stdout);
    return args.ok;
}

}  // namespace dk::tools::enginecli
