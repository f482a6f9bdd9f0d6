// Shape objects of the "physics" module. A fixture definition counts the shape object it refers to,
// so a script may drop its last reference to the shape before creating the fixture.
#pragma once

#include <box2d/box2d.h>

namespace dk::physics {

class ShapeObject {
public:
    virtual ~ShapeObject() = default;
    // The Box2D shape a fixture is made from, checked against everything Box2D asserts on; `scratch`
    // holds a shape that has to be completed first. Throws b2Exception.
    virtual const b2Shape* prepare(b2PolygonShape& scratch) const = 0;

private:
    // Counted like the records (PhysicsRecords.h): the script's handle holds one count.
    friend ShapeObject* retain(ShapeObject* shape);
    friend void release(ShapeObject* shape);
    int m_refs = 1;
};

inline ShapeObject* retain(ShapeObject* shape) {
    if (shape) ++shape->m_refs;
    return shape;
}

inline void release(ShapeObject* shape) {
    if (shape && --shape->m_refs == 0) delete shape;
}

class PolygonShapeObject : public ShapeObject {
public:
    // Each half extent in metres, raised to at least 0.01.
    void setAsBox(float halfWidth, float halfHeight);
    // Appends a vertex (metres). Box2D's vertex array holds 8: a ninth is refused (b2Exception).
    void addVertex(const b2Vec2& vertex);
    const b2Shape* prepare(b2PolygonShape& scratch) const override;

private:
    b2PolygonShape m_shape;  // no vertices, skin radius b2_polygonRadius (0.01 m), centroid (0, 0)
    // Vertices added one by one carry no normals and no centroid: prepare() completes them.
    bool m_fromVertices = false;
};

class CircleShapeObject : public ShapeObject {
public:
    explicit CircleShapeObject(float radius) { m_shape.m_radius = radius; }
    const b2Shape* prepare(b2PolygonShape& scratch) const override;

private:
    b2CircleShape m_shape;
};

}  // namespace dk::physics
