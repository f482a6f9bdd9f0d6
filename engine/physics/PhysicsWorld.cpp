#include "engine/physics/PhysicsWorld.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "engine/physics/PhysicsShapes.h"

namespace dk::physics {

class dkWorld : public b2World {
public:
    dkWorld(const b2Vec2& gravity, World* owner) : b2World(gravity), m_owner(owner) {}
    World* m_owner;
};

namespace {

// Kept apart so that a stale handle can at worst reach another object of its own type.
std::unordered_set<const void*>& liveBodies() {
    static std::unordered_set<const void*> bodies;
    return bodies;
}

std::unordered_set<const void*>& liveFixtures() {
    static std::unordered_set<const void*> fixtures;
    return fixtures;
}

World* ownerOf(b2Body* body) {
    return static_cast<dkWorld*>(body->GetWorld())->m_owner;
}

bool isBusy(const World* world) {
    return world->busy > 0 || world->world->IsLocked();
}

// Brackets Box2D work that may call the scripts; a world collected meanwhile goes at the end.
class BusyScope {
public:
    explicit BusyScope(World* world) : m_world(world) { ++m_world->busy; }
    ~BusyScope() {
        if (--m_world->busy == 0 && m_world->collected) destroyWorld(m_world);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    World* m_world;
};

void setActorRecord(b2Body* body, dkActorUserData* record) {
    body->GetUserData().pointer = reinterpret_cast<uintptr_t>(record);
}

void setFixtureRecord(b2Fixture* fixture, dkFixtureUserData* record) {
    fixture->GetUserData().pointer = reinterpret_cast<uintptr_t>(record);
}

bool hasMatch(const std::vector<int32_t>& masks, const std::vector<int32_t>& categories) {
    for (int32_t mask : masks) {
        for (int32_t category : categories) {
            if (mask == category) return true;
        }
    }
    return false;
}

// A side of a contact is reported when its fixture, or any fixture of its body, has ID 2.
bool qualifies(b2Fixture* fixture) {
    const dkFixtureUserData* record = fixtureRecord(fixture);
    if (record && record->fixtureID == 2) return true;
    for (b2Fixture* f = fixture->GetBody()->GetFixtureList(); f; f = f->GetNext()) {
        record = fixtureRecord(f);
        if (record && record->fixtureID == 2) return true;
    }
    return false;
}

// Box2D recomputes a dynamic body's mass whenever a fixture with density comes or any fixture goes,
// and asserts that the rotational inertia about the centre of mass stays positive. A small shape far
// from its body's origin loses it to rounding, and an enormous one to overflow: the same float
// arithmetic run here first tells.
void checkMass(b2Body* body, const b2Shape* added, float addedDensity, const b2Fixture* removed) {
    if (body->GetType() != b2_dynamicBody || body->IsFixedRotation()) return;
    float mass = 0.0f;
    float inertia = 0.0f;
    b2Vec2 center(0.0f, 0.0f);
    auto add = [&](const b2Shape* shape, float density) {
        if (density == 0.0f) return;
        b2MassData data;
        shape->ComputeMass(&data, density);
        mass += data.mass;
        center += data.mass * data.center;
        inertia += data.I;
    };
    if (added) add(added, addedDensity);  // a new fixture goes to the head of the list
    for (b2Fixture* f = body->GetFixtureList(); f; f = f->GetNext()) {
        if (f != removed) add(f->GetShape(), f->GetDensity());
    }
    if (mass > 0.0f) center *= 1.0f / mass;
    if (inertia > 0.0f) {
        inertia -= mass * b2Dot(center, center);
        DK_B2_REQUIRE(inertia > 0.0f, "m_I > 0.0f");
    }
}

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

b2Exception::b2Exception(const char* expression, const char* file, int32_t line)
    : m_expression(expression), m_file(baseName(file)), m_line(line) {}

void b2Exception::Report() const {
    std::printf("%s:%d assertion failed %s\n", m_file, m_line, m_expression);
    std::fflush(stdout);
}

BodyDefinition::BodyDefinition() : record(new dkActorUserData) {}

BodyDefinition::~BodyDefinition() {
    release(record);
}

FixtureDefinition::FixtureDefinition(dkFixtureUserData* record) : record(record) {}

FixtureDefinition::~FixtureDefinition() {
    release(record);
    release(shape);
}

void FixtureDefinition::setShape(ShapeObject* newShape) {
    retain(newShape);
    release(shape);
    shape = newShape;
}

dkActorUserData* actorRecord(const b2Body* body) {
    return reinterpret_cast<dkActorUserData*>(const_cast<b2Body*>(body)->GetUserData().pointer);
}

dkFixtureUserData* fixtureRecord(const b2Fixture* fixture) {
    return reinterpret_cast<dkFixtureUserData*>(const_cast<b2Fixture*>(fixture)->GetUserData().pointer);
}

bool dkContactFilter::ShouldCollide(b2Fixture* fixtureA, b2Fixture* fixtureB) {
    const dkFixtureUserData* a = fixtureRecord(fixtureA);
    const dkFixtureUserData* b = fixtureRecord(fixtureB);
    if (!a || !b || a->fixtureID != b->fixtureID) return false;
    const dkActorUserData* bodyB = actorRecord(fixtureB->GetBody());
    if (bodyB && !bodyB->categories.empty() && hasMatch(a->maskCategories, bodyB->categories)) return true;
    const dkActorUserData* bodyA = actorRecord(fixtureA->GetBody());
    if (!bodyA || bodyA->categories.empty()) return false;
    return hasMatch(b->maskCategories, bodyA->categories);
}

void dkContactListener::BeginContact(b2Contact* contact) {
    b2Fixture* a = contact->GetFixtureA();
    b2Fixture* b = contact->GetFixtureB();
    if (!qualifies(a) || !qualifies(b)) return;
    auto it = m_pairCounts.find({a, b});
    if (it == m_pairCounts.end()) it = m_pairCounts.find({b, a});
    if (it != m_pairCounts.end()) {
        ++it->second;
        return;
    }
    m_callback(Contact::kBegan, a, b);
    m_pairCounts[{a, b}] = 1;
}

void dkContactListener::EndContact(b2Contact* contact) {
    b2Fixture* a = contact->GetFixtureA();
    b2Fixture* b = contact->GetFixtureB();
    auto it = m_pairCounts.find({a, b});
    if (it == m_pairCounts.end()) it = m_pairCounts.find({b, a});
    if (it == m_pairCounts.end()) return;
    if (--it->second > 0) return;
    std::pair<b2Fixture*, b2Fixture*> pair = it->first;
    m_pairCounts.erase(it);
    m_callback(Contact::kEnded, pair.first, pair.second);
}

World* createWorld(float gravityX, float gravityY, bool doSleep, ContactCallback callback) {
    b2Vec2 gravity(gravityX, gravityY);
    DK_B2_REQUIRE(isFinite(gravity), "gravity.IsValid()");

    auto* world = new World;
    world->world = new dkWorld(gravity, world);
    world->world->SetAllowSleeping(doSleep);
    world->listener = new dkContactListener(std::move(callback));
    world->filter = new dkContactFilter;
    world->world->SetContactListener(world->listener);
    world->world->SetContactFilter(world->filter);
    return world;
}

void destroyWorld(World* world) {
    if (world->busy > 0) {
        world->collected = true;
        return;
    }
    for (b2Body* body = world->world->GetBodyList(); body; body = body->GetNext()) {
        for (b2Fixture* fixture = body->GetFixtureList(); fixture; fixture = fixture->GetNext()) {
            liveFixtures().erase(fixture);
            release(fixtureRecord(fixture));
            setFixtureRecord(fixture, nullptr);
        }
        liveBodies().erase(body);
        release(actorRecord(body));
        setActorRecord(body, nullptr);
    }
    delete world->world;
    world->world = nullptr;
    delete world->listener;
    world->listener = nullptr;
    delete world->filter;
    world->filter = nullptr;
    delete world;
}

void setGravity(World* world, const b2Vec2& gravity) {
    DK_B2_REQUIRE(isFinite(gravity), "gravity.IsValid()");
    world->world->SetGravity(gravity);
}

void step(World* world, float timeStep, int32_t velocityIterations, int32_t positionIterations) {
    DK_B2_REQUIRE(!isBusy(world), "IsLocked() == false");
    DK_B2_REQUIRE(std::isfinite(timeStep), "b2IsValid(dt)");
    BusyScope busy(world);
    world->world->Step(timeStep, velocityIterations, positionIterations);
}

b2Body* createBody(World* world, BodyDefinition& definition) {
    const b2BodyDef& bd = definition.def;
    DK_B2_REQUIRE(!isBusy(world), "IsLocked() == false");
    DK_B2_REQUIRE(bd.position.IsValid(), "bd->position.IsValid()");
    DK_B2_REQUIRE(bd.linearVelocity.IsValid(), "bd->linearVelocity.IsValid()");
    DK_B2_REQUIRE(b2IsValid(bd.angle), "b2IsValid(bd->angle)");
    DK_B2_REQUIRE(b2IsValid(bd.angularVelocity), "b2IsValid(bd->angularVelocity)");
    DK_B2_REQUIRE(b2IsValid(bd.angularDamping) && bd.angularDamping >= 0.0f,
                  "b2IsValid(bd->angularDamping) && bd->angularDamping >= 0.0f");
    DK_B2_REQUIRE(b2IsValid(bd.linearDamping) && bd.linearDamping >= 0.0f,
                  "b2IsValid(bd->linearDamping) && bd->linearDamping >= 0.0f");

    b2BodyDef copy = bd;
    copy.userData.pointer = reinterpret_cast<uintptr_t>(retain(definition.record));
    b2Body* body = world->world->CreateBody(&copy);
    liveBodies().insert(body);
    return body;
}

void destroyBody(World* world, b2Body* body) {
    // The record goes first, also when Box2D refuses: the body then lives on without one.
    release(actorRecord(body));
    setActorRecord(body, nullptr);
    DK_B2_REQUIRE(!isBusy(world), "IsLocked() == false");
    DK_B2_REQUIRE(body->GetWorld() == world->world, "body->GetWorld() == this");

    std::vector<b2Fixture*> fixtures;
    for (b2Fixture* f = body->GetFixtureList(); f; f = f->GetNext()) fixtures.push_back(f);
    std::vector<dkFixtureUserData*> records;
    for (b2Fixture* f : fixtures) records.push_back(fixtureRecord(f));
    {
        BusyScope busy(world);
        world->world->DestroyBody(body);
        liveBodies().erase(body);
        for (b2Fixture* f : fixtures) liveFixtures().erase(f);
    }
    for (dkFixtureUserData* record : records) release(record);
}

b2Fixture* createFixture(b2Body* body, FixtureDefinition& definition) {
    World* world = ownerOf(body);
    DK_B2_REQUIRE(!isBusy(world), "m_world->IsLocked() == false");
    DK_B2_REQUIRE(definition.shape != nullptr, "def->shape != nullptr");
    b2PolygonShape scratch;
    b2FixtureDef def = definition.def;
    def.shape = definition.shape->prepare(scratch);
    DK_B2_REQUIRE(b2IsValid(def.density) && def.density >= 0.0f, "b2IsValid(density) && density >= 0.0f");
    DK_B2_REQUIRE(b2IsValid(def.friction) && def.friction >= 0.0f, "b2IsValid(friction) && friction >= 0.0f");
    DK_B2_REQUIRE(b2IsValid(def.restitution), "b2IsValid(restitution)");
    if (def.density > 0.0f) checkMass(body, def.shape, def.density, nullptr);

    def.userData.pointer = reinterpret_cast<uintptr_t>(retain(definition.record));
    b2Fixture* fixture = body->CreateFixture(&def);
    liveFixtures().insert(fixture);
    return fixture;
}

void destroyFixture(b2Body* body, b2Fixture* fixture) {
    World* world = ownerOf(body);
    // As with bodies, the record goes first, also when Box2D refuses.
    release(fixtureRecord(fixture));
    setFixtureRecord(fixture, nullptr);
    DK_B2_REQUIRE(!isBusy(world), "m_world->IsLocked() == false");
    DK_B2_REQUIRE(fixture->GetBody() == body, "fixture->m_body == this");
    checkMass(body, nullptr, 0.0f, fixture);

    BusyScope busy(world);
    body->DestroyFixture(fixture);
    liveFixtures().erase(fixture);
}

void setTransform(b2Body* body, const b2Vec2& position, float angle) {
    DK_B2_REQUIRE(!isBusy(ownerOf(body)), "m_world->IsLocked() == false");
    DK_B2_REQUIRE(isFinite(position) && std::isfinite(angle), "position.IsValid() && b2IsValid(angle)");
    body->SetTransform(position, angle);
}

bool isLiveBody(const b2Body* body) {
    return liveBodies().count(body) != 0;
}

bool isLiveFixture(const b2Fixture* fixture) {
    return liveFixtures().count(fixture) != 0;
}

}  // namespace dk::physics
