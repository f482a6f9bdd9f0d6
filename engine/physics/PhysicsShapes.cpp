#include "engine/physics/PhysicsShapes.h"

#include <cmath>

#include "engine/physics/PhysicsWorld.h"

namespace dk::physics {
namespace {

// Box2D 2.4 builds a polygon from the convex hull of its points, welding points closer than half the
// linear slop and asserting when fewer than three remain or the area vanishes. A polygon that passes
// here is its own hull, in either winding, so Set() keeps every vertex.
void checkPolygon(const b2Vec2* v, int32 count) {
    DK_B2_REQUIRE(3 <= count && count <= b2_maxPolygonVertices,
                  "3 <= count && count <= b2_maxPolygonVertices");
    for (int32 i = 0; i < count; ++i) DK_B2_REQUIRE(v[i].IsValid(), "ps[i].IsValid()");
    const float weld = 0.5f * b2_linearSlop;
    for (int32 i = 0; i < count; ++i) {
        for (int32 j = i + 1; j < count; ++j) {
            DK_B2_REQUIRE(b2DistanceSquared(v[i], v[j]) > weld * weld,
                          "b2DistanceSquared(v, ps[j]) > 0.5f * b2_linearSlop");
        }
    }
    // Convex and simple: every other vertex lies strictly on one side of each edge, the same side
    // for all edges.
    float side = 0.0f;
    for (int32 i = 0; i < count; ++i) {
        const b2Vec2& a = v[i];
        const b2Vec2 edge = v[(i + 1) % count] - a;
        for (int32 j = 0; j < count; ++j) {
            if (j == i || j == (i + 1) % count) continue;
            float c = b2Cross(edge, v[j] - a);
            if (side == 0.0f) side = c > 0.0f ? 1.0f : -1.0f;
            DK_B2_REQUIRE(c * side > 0.0f, "polygon is convex");
        }
    }
    double area = 0.0;
    for (int32 i = 0; i < count; ++i) {
        const b2Vec2& p = v[i];
        const b2Vec2& q = v[(i + 1) % count];
        area += double(p.x) * q.y - double(q.x) * p.y;
    }
    area = std::fabs(area) * 0.5;
    DK_B2_REQUIRE(std::isfinite(area) && area > 10.0 * b2_epsilon, "area > b2_epsilon");
}

}  // namespace

void PolygonShapeObject::setAsBox(float halfWidth, float halfHeight) {
    // Comparisons keep a NaN, which prepare() then refuses.
    if (halfWidth < 0.01f) halfWidth = 0.01f;
    if (halfHeight < 0.01f) halfHeight = 0.01f;
    m_shape.SetAsBox(halfWidth, halfHeight);
    m_fromVertices = false;
}

void PolygonShapeObject::addVertex(const b2Vec2& vertex) {
    DK_B2_REQUIRE(m_shape.m_count < b2_maxPolygonVertices, "m_count < b2_maxPolygonVertices");
    m_shape.m_vertices[m_shape.m_count++] = vertex;
    m_fromVertices = true;
}

const b2Shape* PolygonShapeObject::prepare(b2PolygonShape& scratch) const {
    checkPolygon(m_shape.m_vertices, m_shape.m_count);
    if (!m_fromVertices) return &m_shape;
    scratch.Set(m_shape.m_vertices, m_shape.m_count);
    return &scratch;
}

const b2Shape* CircleShapeObject::prepare(b2PolygonShape&) const {
    DK_B2_REQUIRE(b2IsValid(m_shape.m_radius) && m_shape.m_radius >= 0.0f,
                  "b2IsValid(m_radius) && m_radius >= 0.0f");
    DK_B2_REQUIRE(m_shape.m_p.IsValid(), "m_p.IsValid()");
    return &m_shape;
}

}  // namespace dk::physics
