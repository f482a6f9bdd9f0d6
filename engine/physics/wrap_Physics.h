// The "physics" Lua module: registers the global table "physics" with its class tables (World,
// BodyDefinition, Body, FixtureDefinition, Fixture, PolygonShape, CircleShape) and returns it.
// Scripts work in pixels, Box2D in metres (50 pixels to the metre). The core (PhysicsWorld,
// PhysicsShapes, PhysicsRecords) has no Lua; this binding holds the metatables, the unit conversion
// and the callbacks fixtureCollisionBegan/Ended (once per fixture pair) on the script's globals. Each
// checked call runs through plat::lua::reportException, which prints "FILE:LINE assertion failed
// EXPRESSION" on standard output and returns no result; only b2Exception is caught (under LuaJIT a
// Lua error unwinds as a C++ exception too). Body and Fixture handles are plain pointers checked
// against the live set: a handle kept past its object is a Lua error. Callbacks run on the main Lua
// thread (plat::lua::callbackThread: a coroutine that made a world may be collected before it).
#pragma once

#include <lua.hpp>

int luaopen_physics(lua_State* L);
