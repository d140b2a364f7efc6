// The engine's value types (vector, matrix, quaternion, plane, frustum),
// the free functions that work on them, and the millisecond clock.
//
// Geometry is left-handed with points as row vectors (v' = v * M), the
// convention of the device's fixed-function transform, so a tmatrix can be
// handed to the device unchanged. Quaternion angles are in degrees.
#pragma once

#include <cstdint>

struct tvector {
    float x, y, z;
};

// Row-major: m[r][c] is the same single as m<r+1><c+1>.
struct tmatrix {
    union {
        struct {
            float m11, m12, m13, m14;
            float m21, m22, m23, m24;
            float m31, m32, m33, m34;
            float m41, m42, m43, m44;
        };
        float m[4][4];
    };
};

struct tquaternion {
    float x, y, z, w;
};

// a*x + b*y + c*z + d = 0; points with a positive value lie inside.
struct tplane {
    float a, b, c, d;
};

// Order: right, left, bottom, top, far, near.
struct tfrustum {
    tplane Planes[6];
};

static_assert(sizeof(tvector) == 12);
static_assert(sizeof(tmatrix) == 64);
static_assert(sizeof(tquaternion) == 16);
static_assert(sizeof(tplane) == 16);
static_assert(sizeof(tfrustum) == 96);

extern const tmatrix IdentityMatrix;

// ---- Vectors --------------------------------------------------------------

tvector MakeVector(float x, float y, float z);
void VectorAdd(const tvector& a, const tvector& b, tvector& out);
void VectorSub(const tvector& a, const tvector& b, tvector& out);
void VectorScale(const tvector& v, tvector& out, float s);
// out must not alias a or b.
void VectorCross(const tvector& a, const tvector& b, tvector& out);
float VectorLength(const tvector& v);
float VectorDistance(const tvector& a, const tvector& b);
// A zero vector is outside the contract.
void VectorNormalize(tvector& v);
// Unit normal of (b - a) x (c - b); (0, 0, 0) for a degenerate triangle.
void TriangleNormal(const tvector& a, const tvector& b, const tvector& c, tvector& out);
// The largest distance of a corner from p.
void TriangleRadius(const tvector& a, const tvector& b, const tvector& c, const tvector& p,
                    float& r);
// Packs a unit vector into A8R8G8B8 as trunc(127 c + 128) per channel
// (x red, y green, z blue, alpha 255). Channels are clamped to 0..255 so a
// component outside [-1, 1] cannot spill into its neighbour's byte.
uint32_t VectorToColor(const tvector& v);
// 0, 1 or 2 for the component of largest magnitude; ties go to the earlier.
int16_t DominantAxis(const tvector& v);

// ---- Matrices and planes --------------------------------------------------

// out = a * b; out must not alias a or b.
void MatrixMultiply(const tmatrix& a, const tmatrix& b, tmatrix& out);
// Divides all four coefficients by the length of (a, b, c).
void PlaneNormalize(tplane& p);
// The six clip planes of view a and projection b, each normalised.
void ExtractFrustum(const tmatrix& a, const tmatrix& b, tfrustum& out);

// ---- Quaternions (angles in degrees) --------------------------------------

// Identity, or all zero when zero is true.
void QuaternionInit(tquaternion& q, bool zero);
// out = a * b (Hamilton product); out may alias a or b.
void QuaternionMultiply(const tquaternion& a, const tquaternion& b, tquaternion& out);
void QuaternionConjugate(const tquaternion& q, tquaternion& out);
float QuaternionMagnitude(const tquaternion& q);
void QuaternionNormalize(tquaternion& q);
void QuaternionInverse(tquaternion& q);
void QuaternionRotateVector(tvector& v, const tquaternion& q);
// q := rotation(angle about (ax, ay, az)) * q; a zero axis is guarded.
void QuaternionRotateAxis(tquaternion& q, float angle, float ax, float ay, float az);
// Rotation about X, then Y, then Z.
void QuaternionFromEuler(tquaternion& out, float ax, float ay, float az);
// q := q * QuaternionFromEuler(ax, ay, az).
void QuaternionRotateEuler(tquaternion& q, float ax, float ay, float az);
void RotateAroundPoint(tvector& v, const tquaternion& q, const tvector& centre);

// ---- Scalars and clock ----------------------------------------------------

// The IEEE bit pattern of f, for float render-state values.
uint32_t FloatToDWord(float f);
uint32_t FloatToDWord(const float* f);
// x rounded toward zero; out of range or NaN gives INT64_MIN.
int64_t TruncToInt(long double x);
// Milliseconds since ZorDX_GeometryInitialization (low 32 bits).
int32_t ElapsedMilliseconds();

// Unit start: reads the counter frequency and the start count.
void ZorDX_GeometryInitialization();
