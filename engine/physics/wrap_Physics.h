// The "physics" Lua module: registers the global table "physics" with its class tables (World,
// BodyDefinition, Body, FixtureDefinition, Fixture, PolygonShape, CircleShape) and returns it.
#pragma once

#include <lua.hpp>

int luaopen_physics(lua_State* L);
