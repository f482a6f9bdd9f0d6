// Box2D worlds for the "physics" module: the contact filter and listener that carry the module's
// collision rules and callbacks, and the checked operations that create, destroy and step.
//
// Box2D 2.4's assertions abort the process, so every precondition Box2D would assert is tested here
// first (world locked, object of another world or body, polygon shape, finite numbers, density,
// inertia left after a mass change) and a violation is thrown as b2Exception, which the Lua binding
// reports. Box2D 2.4's differences (user data struct, world construction and sleeping, vertex
// count, convex hull in Set) stay here and in PhysicsShapes.cpp. Collision rules by fixture ID,
// body categories and fixture masks are a contact filter that replaces Box2D's own; the contact
// listener reports the first begin and the last end of a fixture pair. The records hung on bodies
// and fixtures are counted, shared with the definition that made them, so a definition reused or
// collected never frees a record in use. While Box2D may call the scripts (stepping, destroying a
// body or fixture) the world is busy: creating, destroying, moving a body or stepping from a
// callback is refused, and a world collected then goes when the call ends.
#pragma once

#include <box2d/box2d.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "engine/physics/PhysicsRecords.h"

namespace dk::physics {

// Box2D asserts on non-finite vectors; every entry point checks with this first.
inline bool isFinite(const b2Vec2& v) {
    return std::isfinite(v.x) && std::isfinite(v.y);
}

// A refused Box2D precondition: the expression as Box2D states it, and where it was checked.
class b2Exception {
public:
    b2Exception(const char* expression, const char* file, int32_t line);
    // Writes "file:line assertion failed expression" and a line end to standard output.
    void Report() const;

    const char* m_expression;
    const char* m_file;
    int32_t m_line;
};

#define DK_B2_REQUIRE(condition, expression)                                                \
    do {                                                                                    \
        if (!(condition)) throw ::dk::physics::b2Exception(expression, __FILE__, __LINE__); \
    } while (0)

class ShapeObject;

struct BodyDefinition {
    BodyDefinition();
    ~BodyDefinition();
    b2BodyDef def;
    dkActorUserData* record;
};

struct FixtureDefinition {
    explicit FixtureDefinition(dkFixtureUserData* record);
    ~FixtureDefinition();
    void setShape(ShapeObject* shape);
    b2FixtureDef def;
    dkFixtureUserData* record;
    ShapeObject* shape = nullptr;  // counted: a collected shape object stays alive while used here
};

dkActorUserData* actorRecord(const b2Body* body);
dkFixtureUserData* fixtureRecord(const b2Fixture* fixture);

// Replaces Box2D's category, mask and group filtering with the module's rules.
class dkContactFilter : public b2ContactFilter {
public:
    bool ShouldCollide(b2Fixture* fixtureA, b2Fixture* fixtureB) override;
};

enum class Contact { kBegan, kEnded };
// Told of the first begin and the last end of each reported fixture pair; may run the scripts, which
// may try anything on the world (the world refuses what it must while busy).
using ContactCallback = std::function<void(Contact, b2Fixture* fixtureA, b2Fixture* fixtureB)>;

// Counts begun contacts per reported fixture pair and calls back on the first begin and the last end
// of each pair.
class dkContactListener : public b2ContactListener {
public:
    explicit dkContactListener(ContactCallback callback) : m_callback(std::move(callback)) {}
    void BeginContact(b2Contact* contact) override;
    void EndContact(b2Contact* contact) override;

private:
    std::map<std::pair<b2Fixture*, b2Fixture*>, int32_t> m_pairCounts;
    ContactCallback m_callback;
};

class dkWorld;

struct World {
    dkWorld* world = nullptr;
    dkContactListener* listener = nullptr;
    dkContactFilter* filter = nullptr;
    // Non-zero while Box2D may call back into the scripts (stepping, destroying): the scripts must
    // not change or step the world then. Box2D only locks it while stepping.
    int busy = 0;
    // Collected by Lua while busy: destroyed when the busy operation ends.
    bool collected = false;
};

World* createWorld(float gravityX, float gravityY, bool doSleep, ContactCallback callback);
// Destroys the world with its bodies and fixtures, then the listener, then the filter.
void destroyWorld(World* world);
void setGravity(World* world, const b2Vec2& gravity);
void step(World* world, float timeStep, int32_t velocityIterations, int32_t positionIterations);

b2Body* createBody(World* world, BodyDefinition& definition);
void destroyBody(World* world, b2Body* body);
b2Fixture* createFixture(b2Body* body, FixtureDefinition& definition);
void destroyFixture(b2Body* body, b2Fixture* fixture);
void setTransform(b2Body* body, const b2Vec2& position, float angle);

// Bodies and fixtures that exist now, so that a handle kept past its object is caught.
bool isLiveBody(const b2Body* body);
bool isLiveFixture(const b2Fixture* fixture);

}  // namespace dk::physics
