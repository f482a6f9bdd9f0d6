// Lua binding of the physics module. Methods read their object and arguments counted from the top of
// the stack, so each is called with exactly its documented arguments. Lengths, positions, velocities,
// forces and gravity cross in pixels and are kept in metres (50 pixels to the metre).
#include "engine/physics/wrap_Physics.h"

#include <cmath>
#include <cstdint>

#include "engine/physics/PhysicsShapes.h"
#include "engine/physics/PhysicsWorld.h"
#include "platform/lua/LuaArgs.h"
#include "platform/lua/LuaObject.h"
#include "platform/lua/LuaThread.h"

using namespace dk::physics;
using plat::lua::callbackThread;
using plat::lua::checkObject;
using plat::lua::pushObject;
using plat::lua::takeObject;
using plat::lua::toSlot;
using plat::lua::withArity;

namespace {

constexpr const char* kWorldMT = "physics.WorldMT";
constexpr const char* kBodyDefMT = "physics.BodyDefMT";
constexpr const char* kBodyMT = "physics.BodyMT";
constexpr const char* kFixtureDefMT = "physics.FixtureDefMT";
constexpr const char* kFixtureMT = "physics.FixtureMT";
constexpr const char* kPolygonShapeMT = "physics.PolygonShapeMT";
constexpr const char* kCircleShapeMT = "physics.CircleShapeMT";

// The float 0.02 widened to double: incoming values are multiplied by it and stored as floats.
constexpr double kMetresPerPixel = double(0.02f);
constexpr float kPixelsPerMetre = 50.0f;

float toMetres(lua_State* L, int idx) {
    return float(lua_tonumber(L, idx) * kMetresPerPixel);
}
float toFloat(lua_State* L, int idx) {
    return float(lua_tonumber(L, idx));
}
void pushPixels(lua_State* L, float metres) {
    lua_pushnumber(L, metres * kPixelsPerMetre);
}

// IDs and categories wrap as lua_tointeger does; only the iteration counts saturate.
int32_t toID(lua_State* L, int idx) {
    return static_cast<int32_t>(lua_tointeger(L, idx));
}

// Box2D's assertions would abort: a refused precondition is reported and the call answers nothing.
template <class Body>
bool reported(Body&& body) {
    return plat::lua::reportException<b2Exception>(body);
}

// A Body or Fixture handle is a plain pointer: one kept past its body or fixture is caught here.
b2Body* checkBody(lua_State* L, int idx) {
    b2Body* body = checkObject<b2Body>(L, idx, kBodyMT);
    if (!isLiveBody(body)) luaL_error(L, "%s used after its body was destroyed", kBodyMT);
    return body;
}

b2Fixture* checkFixture(lua_State* L, int idx) {
    b2Fixture* fixture = checkObject<b2Fixture>(L, idx, kFixtureMT);
    if (!isLiveFixture(fixture)) luaL_error(L, "%s used after its fixture was destroyed", kFixtureMT);
    return fixture;
}

World* checkWorld(lua_State* L, int idx) {
    return checkObject<World>(L, idx, kWorldMT);
}

// ---- Collision callbacks

// Looks the global up and calls it inside the protected call, so that not even a strict globals
// table can raise an error through Box2D's frames.
int callGlobal(lua_State* L) {
    lua_getfield(L, LUA_GLOBALSINDEX, lua_tostring(L, 1));
    lua_replace(L, 1);
    lua_call(L, 2, 0);
    return 0;
}

// Calls the script's fixtureCollisionBegan or fixtureCollisionEnded(fixtureA, fixtureB).
ContactCallback scriptCallback(lua_State* thread) {
    return [thread](Contact contact, b2Fixture* fixtureA, b2Fixture* fixtureB) {
        lua_State* L = thread;
        if (!lua_checkstack(L, 4)) return;
        lua_pushcfunction(L, callGlobal);
        lua_pushstring(L, contact == Contact::kBegan ? "fixtureCollisionBegan" : "fixtureCollisionEnded");
        pushObject(L, fixtureA, kFixtureMT);
        pushObject(L, fixtureB, kFixtureMT);
        // Errors of the script are swallowed; the message is dropped so the stack cannot grow.
        if (lua_pcall(L, 3, 0, 0) != 0) lua_pop(L, 1);
    };
}

// ---- World

int worldNew(lua_State* L) {
    float gx = toMetres(L, -3);
    float gy = toMetres(L, -2);
    bool doSleep = lua_toboolean(L, -1);
    World* world = nullptr;
    if (!reported([&] { world = createWorld(gx, gy, doSleep, scriptCallback(callbackThread(L))); })) return 0;
    pushObject(L, world, kWorldMT);
    return 1;
}

int worldCreateBody(lua_State* L) {
    World* world = checkWorld(L, -2);
    BodyDefinition* def = checkObject<BodyDefinition>(L, -1, kBodyDefMT);
    b2Body* body = nullptr;
    if (!reported([&] { body = createBody(world, *def); })) return 0;
    pushObject(L, body, kBodyMT);
    return 1;
}

int worldDestroyBody(lua_State* L) {
    World* world = checkWorld(L, -2);
    b2Body* body = checkBody(L, -1);
    reported([&] { destroyBody(world, body); });
    return 0;
}

int worldStep(lua_State* L) {
    World* world = checkWorld(L, -4);
    float timeStep = toFloat(L, -3);
    int32_t velocityIterations = plat::lua::toInt32(L, -2);
    int32_t positionIterations = plat::lua::toInt32(L, -1);
    reported([&] { step(world, timeStep, velocityIterations, positionIterations); });
    return 0;
}

int worldSetGravity(lua_State* L) {
    World* world = checkWorld(L, -3);
    reported([&] { setGravity(world, b2Vec2(toMetres(L, -2), toMetres(L, -1))); });
    return 0;
}

int worldGc(lua_State* L) {
    if (World* world = takeObject<World>(L, -1, kWorldMT)) destroyWorld(world);
    return 0;
}

// ---- BodyDefinition

int bodyDefNew(lua_State* L) {
    pushObject(L, new BodyDefinition, kBodyDefMT);
    return 1;
}

BodyDefinition* checkBodyDef(lua_State* L, int idx) {
    return checkObject<BodyDefinition>(L, idx, kBodyDefMT);
}

int bodyDefSetType(lua_State* L) {
    BodyDefinition* def = checkBodyDef(L, -2);
    lua_Number type = lua_tonumber(L, -1);
    if (type == 0)
        def->def.type = b2_staticBody;
    else if (type == 1)
        def->def.type = b2_kinematicBody;
    else if (type == 2)
        def->def.type = b2_dynamicBody;
    return 0;
}

int bodyDefSetPosition(lua_State* L) {
    checkBodyDef(L, -3)->def.position.Set(toMetres(L, -2), toMetres(L, -1));
    return 0;
}

int bodyDefSetAngle(lua_State* L) {
    checkBodyDef(L, -2)->def.angle = toFloat(L, -1);
    return 0;
}

int bodyDefSetFixedRotation(lua_State* L) {
    checkBodyDef(L, -2)->def.fixedRotation = lua_toboolean(L, -1);
    return 0;
}

int bodyDefSetActorID(lua_State* L) {
    checkBodyDef(L, -2)->record->actorID = toID(L, -1);
    return 0;
}

int bodyDefAddCollisionCategory(lua_State* L) {
    addCategory(checkBodyDef(L, -2)->record->categories, toID(L, -1));
    return 0;
}

int bodyDefGc(lua_State* L) {
    delete takeObject<BodyDefinition>(L, -1, kBodyDefMT);
    return 0;
}

// ---- Body

int bodyCreateFixture(lua_State* L) {
    b2Body* body = checkBody(L, -2);
    FixtureDefinition* def = checkObject<FixtureDefinition>(L, -1, kFixtureDefMT);
    b2Fixture* fixture = nullptr;
    if (!reported([&] { fixture = createFixture(body, *def); })) return 0;
    pushObject(L, fixture, kFixtureMT);
    return 1;
}

int bodyDestroyFixture(lua_State* L) {
    if (!lua_isuserdata(L, -2) || !lua_isuserdata(L, -1)) return 0;
    b2Body* body = checkBody(L, -2);
    b2Fixture* fixture = checkFixture(L, -1);
    reported([&] { destroyFixture(body, fixture); });
    return 0;
}

int bodySetAwake(lua_State* L) {
    checkBody(L, -2)->SetAwake(lua_toboolean(L, -1));
    return 0;
}

int bodyPosition(lua_State* L) {
    const b2Vec2& p = checkBody(L, -1)->GetPosition();
    pushPixels(L, p.x);
    pushPixels(L, p.y);
    return 2;
}

int bodySetPositionAndAngle(lua_State* L) {
    b2Body* body = checkBody(L, -4);
    b2Vec2 position(toMetres(L, -3), toMetres(L, -2));
    float angle = toFloat(L, -1);
    reported([&] { setTransform(body, position, angle); });
    return 0;
}

int bodyAngle(lua_State* L) {
    lua_pushnumber(L, checkBody(L, -1)->GetAngle());
    return 1;
}

// Values Box2D takes without checking are still refused when not finite: one NaN spreads through
// the world until one of its assertions aborts the process.
int reportNotFinite(const char* expression, int line) {
    b2Exception(expression, __FILE__, line).Report();
    return 0;
}

int bodySetLinearVelocity(lua_State* L) {
    b2Body* body = checkBody(L, -3);
    b2Vec2 v(toMetres(L, -2), toMetres(L, -1));
    if (!isFinite(v)) return reportNotFinite("v.IsValid()", __LINE__);
    body->SetLinearVelocity(v);
    return 0;
}

int bodyLinearVelocity(lua_State* L) {
    const b2Vec2& v = checkBody(L, -1)->GetLinearVelocity();
    pushPixels(L, v.x);
    pushPixels(L, v.y);
    return 2;
}

int bodySetAngularVelocity(lua_State* L) {
    b2Body* body = checkBody(L, -2);
    float w = toFloat(L, -1);
    if (!std::isfinite(w)) return reportNotFinite("b2IsValid(w)", __LINE__);
    body->SetAngularVelocity(w);
    return 0;
}

int bodyAngularVelocity(lua_State* L) {
    float product = checkBody(L, -1)->GetAngularVelocity() * 180.0f;
    lua_pushnumber(L, float(double(product) * 0.3183098861837907));
    return 1;
}

int bodySetAngularDamping(lua_State* L) {
    b2Body* body = checkBody(L, -2);
    float damping = toFloat(L, -1);
    if (!std::isfinite(damping)) return reportNotFinite("b2IsValid(angularDamping)", __LINE__);
    body->SetAngularDamping(damping);
    return 0;
}

int bodyAngularDamping(lua_State* L) {
    lua_pushnumber(L, checkBody(L, -1)->GetAngularDamping());
    return 1;
}

int bodyMass(lua_State* L) {
    lua_pushnumber(L, checkBody(L, -1)->GetMass());
    return 1;
}

int bodyWorldCenter(lua_State* L) {
    const b2Vec2& c = checkBody(L, -1)->GetWorldCenter();
    lua_pushnumber(L, c.x);
    lua_pushnumber(L, c.y);
    return 2;
}

int bodyApplyForce(lua_State* L) {
    b2Body* body = checkBody(L, -5);
    b2Vec2 force(toMetres(L, -4), toMetres(L, -3));
    b2Vec2 point(toFloat(L, -2), toFloat(L, -1));
    if (!isFinite(force) || !isFinite(point)) {
        return reportNotFinite("force.IsValid() && point.IsValid()", __LINE__);
    }
    body->ApplyForce(force, point, true);
    return 0;
}

int bodyActorID(lua_State* L) {
    const dkActorUserData* record = actorRecord(checkBody(L, -1));
    lua_pushinteger(L, record ? record->actorID : -1);
    return 1;
}

int bodyAddCollisionCategory(lua_State* L) {
    if (dkActorUserData* record = actorRecord(checkBody(L, -2))) addCategory(record->categories, toID(L, -1));
    return 0;
}

int bodyRemoveCollisionCategory(lua_State* L) {
    if (dkActorUserData* record = actorRecord(checkBody(L, -2))) {
        removeCategory(record->categories, toID(L, -1));
    }
    return 0;
}

// ---- FixtureDefinition

int fixtureDefNew(lua_State* L) {
    dkFixtureUserData* record = nullptr;
    if (toSlot<b2Fixture>(L, 1, kFixtureMT)) {
        if (const dkFixtureUserData* source = fixtureRecord(checkFixture(L, 1))) {
            record = new dkFixtureUserData(*source);
        }
    }
    if (!record) record = new dkFixtureUserData;
    pushObject(L, new FixtureDefinition(record), kFixtureDefMT);
    return 1;
}

FixtureDefinition* checkFixtureDef(lua_State* L, int idx) {
    return checkObject<FixtureDefinition>(L, idx, kFixtureDefMT);
}

int fixtureDefSetShape(lua_State* L) {
    FixtureDefinition* def = checkFixtureDef(L, -2);
    ShapeObject* shape = nullptr;
    if (toSlot<PolygonShapeObject>(L, -1, kPolygonShapeMT)) {
        shape = checkObject<PolygonShapeObject>(L, -1, kPolygonShapeMT);
    } else {
        shape = checkObject<CircleShapeObject>(L, -1, kCircleShapeMT);
    }
    def->setShape(shape);
    return 0;
}

int fixtureDefSetDensity(lua_State* L) {
    checkFixtureDef(L, -2)->def.density = toFloat(L, -1);
    return 0;
}

int fixtureDefSetFriction(lua_State* L) {
    checkFixtureDef(L, -2)->def.friction = toMetres(L, -1);
    return 0;
}

int fixtureDefSetRestitution(lua_State* L) {
    checkFixtureDef(L, -2)->def.restitution = toFloat(L, -1);
    return 0;
}

int fixtureDefSetIsSensor(lua_State* L) {
    checkFixtureDef(L, -2)->def.isSensor = lua_toboolean(L, -1);
    return 0;
}

int fixtureDefSetFixtureID(lua_State* L) {
    checkFixtureDef(L, -2)->record->fixtureID = toID(L, -1);
    return 0;
}

int fixtureDefAddCollisionMaskCategory(lua_State* L) {
    addCategory(checkFixtureDef(L, -2)->record->maskCategories, toID(L, -1));
    return 0;
}

int fixtureDefGc(lua_State* L) {
    delete takeObject<FixtureDefinition>(L, -1, kFixtureDefMT);
    return 0;
}

// ---- Fixture

int fixtureFixtureID(lua_State* L) {
    const dkFixtureUserData* record = fixtureRecord(checkFixture(L, -1));
    lua_pushinteger(L, record ? record->fixtureID : -1);
    return 1;
}

int fixtureAddCollisionMaskCategory(lua_State* L) {
    if (dkFixtureUserData* record = fixtureRecord(checkFixture(L, -2))) {
        addCategory(record->maskCategories, toID(L, -1));
    }
    return 0;
}

int fixtureRemoveCollisionMaskCategory(lua_State* L) {
    if (dkFixtureUserData* record = fixtureRecord(checkFixture(L, -2))) {
        removeCategory(record->maskCategories, toID(L, -1));
    }
    return 0;
}

int fixtureTestPoint(lua_State* L) {
    b2Fixture* fixture = checkFixture(L, -3);
    lua_pushboolean(L, fixture->TestPoint(b2Vec2(toMetres(L, -2), toMetres(L, -1))));
    return 1;
}

int fixtureBody(lua_State* L) {
    pushObject(L, checkFixture(L, -1)->GetBody(), kBodyMT);
    return 1;
}

// ---- Shapes

int polygonShapeNew(lua_State* L) {
    pushObject(L, new PolygonShapeObject, kPolygonShapeMT);
    return 1;
}

int polygonShapeSetAsBox(lua_State* L) {
    checkObject<PolygonShapeObject>(L, -3, kPolygonShapeMT)->setAsBox(toMetres(L, -2), toMetres(L, -1));
    return 0;
}

int polygonShapeAddVertex(lua_State* L) {
    PolygonShapeObject* shape = checkObject<PolygonShapeObject>(L, -3, kPolygonShapeMT);
    reported([&] { shape->addVertex(b2Vec2(toMetres(L, -2), toMetres(L, -1))); });
    return 0;
}

int polygonShapeGc(lua_State* L) {
    release(static_cast<ShapeObject*>(takeObject<PolygonShapeObject>(L, -1, kPolygonShapeMT)));
    return 0;
}

int circleShapeNew(lua_State* L) {
    pushObject(L, new CircleShapeObject(toMetres(L, -1)), kCircleShapeMT);
    return 1;
}

int circleShapeGc(lua_State* L) {
    release(static_cast<ShapeObject*>(takeObject<CircleShapeObject>(L, -1, kCircleShapeMT)));
    return 0;
}

// ---- Registration

const luaL_Reg kWorldMethods[] = {{"new", withArity<3, worldNew>},
                                  {"createBody", withArity<2, worldCreateBody>},
                                  {"destroyBody", withArity<2, worldDestroyBody>},
                                  {"step", withArity<4, worldStep>},
                                  {"setGravity", withArity<3, worldSetGravity>},
                                  {nullptr, nullptr}};

const luaL_Reg kBodyDefMethods[] = {{"new", bodyDefNew},
                                    {"setType", withArity<2, bodyDefSetType>},
                                    {"setPosition", withArity<3, bodyDefSetPosition>},
                                    {"setAngle", withArity<2, bodyDefSetAngle>},
                                    {"setFixedRotation", withArity<2, bodyDefSetFixedRotation>},
                                    {"setActorID", withArity<2, bodyDefSetActorID>},
                                    {"addCollisionCategory", withArity<2, bodyDefAddCollisionCategory>},
                                    {nullptr, nullptr}};

const luaL_Reg kBodyMethods[] = {{"createFixture", withArity<2, bodyCreateFixture>},
                                 {"destroyFixture", withArity<2, bodyDestroyFixture>},
                                 {"setAwake", withArity<2, bodySetAwake>},
                                 {"position", withArity<1, bodyPosition>},
                                 {"setPositionAndAngle", withArity<4, bodySetPositionAndAngle>},
                                 {"angle", withArity<1, bodyAngle>},
                                 {"setLinearVelocity", withArity<3, bodySetLinearVelocity>},
                                 {"linearVelocity", withArity<1, bodyLinearVelocity>},
                                 {"setAngularVelocity", withArity<2, bodySetAngularVelocity>},
                                 {"angularVelocity", withArity<1, bodyAngularVelocity>},
                                 {"setAngularDamping", withArity<2, bodySetAngularDamping>},
                                 {"angularDamping", withArity<1, bodyAngularDamping>},
                                 {"mass", withArity<1, bodyMass>},
                                 {"worldCenter", withArity<1, bodyWorldCenter>},
                                 {"applyForce", withArity<5, bodyApplyForce>},
                                 {"actorID", withArity<1, bodyActorID>},
                                 {"addCollisionCategory", withArity<2, bodyAddCollisionCategory>},
                                 {"removeCollisionCategory", withArity<2, bodyRemoveCollisionCategory>},
                                 {nullptr, nullptr}};

const luaL_Reg kFixtureDefMethods[] = {
    {"new", fixtureDefNew},
    {"setShape", withArity<2, fixtureDefSetShape>},
    {"setDensity", withArity<2, fixtureDefSetDensity>},
    {"setFriction", withArity<2, fixtureDefSetFriction>},
    {"setRestitution", withArity<2, fixtureDefSetRestitution>},
    {"setIsSensor", withArity<2, fixtureDefSetIsSensor>},
    {"setFixtureID", withArity<2, fixtureDefSetFixtureID>},
    {"addCollisionMaskCategory", withArity<2, fixtureDefAddCollisionMaskCategory>},
    {nullptr, nullptr}};

const luaL_Reg kFixtureMethods[] = {
    {"fixtureID", withArity<1, fixtureFixtureID>},
    {"addCollisionMaskCategory", withArity<2, fixtureAddCollisionMaskCategory>},
    {"removeCollisionMaskCategory", withArity<2, fixtureRemoveCollisionMaskCategory>},
    {"testPoint", withArity<3, fixtureTestPoint>},
    {"body", withArity<1, fixtureBody>},
    {nullptr, nullptr}};

const luaL_Reg kPolygonShapeMethods[] = {{"new", polygonShapeNew},
                                         {"setAsBox", withArity<3, polygonShapeSetAsBox>},
                                         {"addVertex", withArity<3, polygonShapeAddVertex>},
                                         {nullptr, nullptr}};

const luaL_Reg kCircleShapeMethods[] = {{"new", withArity<1, circleShapeNew>}, {nullptr, nullptr}};

// Adds a class table to the table on top of the stack and makes it the `__index` of its metatable.
void registerClass(lua_State* L, const char* name, const char* metatable, const luaL_Reg* methods,
                   lua_CFunction gc) {
    lua_newtable(L);
    luaL_register(L, nullptr, methods);
    luaL_newmetatable(L, metatable);
    lua_pushvalue(L, -2);
    lua_setfield(L, -2, "__index");
    if (gc) {
        lua_pushcfunction(L, gc);
        lua_setfield(L, -2, "__gc");
    }
    lua_pop(L, 1);
    lua_setfield(L, -2, name);
}

}  // namespace

int luaopen_physics(lua_State* L) {
    callbackThread(L);  // remembered now, on the thread that opens the module
    lua_newtable(L);
    registerClass(L, "World", kWorldMT, kWorldMethods, withArity<1, worldGc>);
    registerClass(L, "BodyDefinition", kBodyDefMT, kBodyDefMethods, withArity<1, bodyDefGc>);
    registerClass(L, "Body", kBodyMT, kBodyMethods, nullptr);
    registerClass(L, "FixtureDefinition", kFixtureDefMT, kFixtureDefMethods, withArity<1, fixtureDefGc>);
    registerClass(L, "Fixture", kFixtureMT, kFixtureMethods, nullptr);
    registerClass(L, "PolygonShape", kPolygonShapeMT, kPolygonShapeMethods, withArity<1, polygonShapeGc>);
    registerClass(L, "CircleShape", kCircleShapeMT, kCircleShapeMethods, withArity<1, circleShapeGc>);
    lua_pushvalue(L, -1);
    lua_setglobal(L, "physics");
    return 1;
}
