#pragma once
// Small vector maths and closed triangle meshes for the sample models.
#include <array>
#include <cmath>
#include <vector>

namespace sample_data {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double Length(Vec3 a) { return std::sqrt(Dot(a, a)); }
inline Vec3 Normalize(Vec3 a) { return a * (1.0 / Length(a)); }

// One vertex of a polygon file: position, normal, texture coordinates.
struct ModelVertex {
    Vec3 position;
    Vec3 normal;
    double u = 0, v = 0;
};

// A closed surface given by shared corners and consistently ordered triangles.
// Smooth parts carry a normal per corner; flat parts take each triangle's own.
struct ClosedPart {
    std::vector<ModelVertex> corners;
    std::vector<std::array<int, 3>> triangles;
    bool smooth = false;

    int Add(Vec3 p, double u = 0, double v = 0)
    {
        corners.push_back({p, {}, u, v});
        return static_cast<int>(corners.size()) - 1;
    }
    void Triangle(int a, int b, int c) { triangles.push_back({a, b, c}); }
    void Quad(int a, int b, int c, int d)
    {
        Triangle(a, b, c);
        Triangle(a, c, d);
    }
};

// Appends the part as a triangle list, every triangle turned so that
// (v1 - v0) x (v2 - v0) points out of the enclosed volume.
void AppendPart(std::vector<ModelVertex>& list, ClosedPart part);

}  // namespace sample_data
