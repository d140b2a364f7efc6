#include "ZorDX_Geometry.h"

#include <Windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Set once by the unit start step; the clock divides by the second, so a
// machine without a high-resolution counter reads 0 forever (see TruncToInt).
int64_t ClockStart = 0;
long double TicksPerMillisecond = 0.0L;

constexpr float DegreesToRadians = 0.017453292f;

int32_t ChannelOf(float c) {
    const int64_t n = TruncToInt(static_cast<long double>(c * 127.0f + 128.0f));
    return static_cast<int32_t>(std::clamp<int64_t>(n, 0, 255));
}

}  // namespace

const tmatrix IdentityMatrix = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};

// ---- Vectors --------------------------------------------------------------

tvector MakeVector(float x, float y, float z) { return {x, y, z}; }

void VectorAdd(const tvector& a, const tvector& b, tvector& out) {
    out = {a.x + b.x, a.y + b.y, a.z + b.z};
}

void VectorSub(const tvector& a, const tvector& b, tvector& out) {
    out = {a.x - b.x, a.y - b.y, a.z - b.z};
}

void VectorScale(const tvector& v, tvector& out, float s) { out = {v.x * s, v.y * s, v.z * s}; }

void VectorCross(const tvector& a, const tvector& b, tvector& out) {
    out.x = a.y * b.z - a.z * b.y;
    out.y = a.z * b.x - a.x * b.z;
    out.z = a.x * b.y - a.y * b.x;
}

float VectorLength(const tvector& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

float VectorDistance(const tvector& a, const tvector& b) {
    tvector d;
    VectorSub(a, b, d);
    return VectorLength(d);
}

void VectorNormalize(tvector& v) {
    const float k = 1.0f / VectorLength(v);
    VectorScale(v, v, k);
}

void TriangleNormal(const tvector& a, const tvector& b, const tvector& c, tvector& out) {
    tvector ab, bc;
    VectorSub(b, a, ab);
    VectorSub(c, b, bc);
    VectorCross(ab, bc, out);
    if (VectorLength(out) != 0.0f) VectorNormalize(out);
}

void TriangleRadius(const tvector& a, const tvector& b, const tvector& c, const tvector& p,
                    float& r) {
    r = VectorDistance(a, p);
    const float rb = VectorDistance(b, p);
    if (rb > r) r = rb;
    const float rc = VectorDistance(c, p);
    if (rc > r) r = rc;
}

uint32_t VectorToColor(const tvector& v) {
    return 0xFF000000u | static_cast<uint32_t>(ChannelOf(v.x)) << 16 |
           static_cast<uint32_t>(ChannelOf(v.y)) << 8 | static_cast<uint32_t>(ChannelOf(v.z));
}

int16_t DominantAxis(const tvector& v) {
    const float ax = std::fabs(v.x), ay = std::fabs(v.y), az = std::fabs(v.z);
    if (ax >= ay && ax >= az) return 0;
    if (ay >= az) return 1;
    return 2;
}

// ---- Matrices and planes --------------------------------------------------

void MatrixMultiply(const tmatrix& a, const tmatrix& b, tmatrix& out) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c] +
                          a.m[r][3] * b.m[3][c];
}

void PlaneNormalize(tplane& p) {
    const float len = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    p = {p.a / len, p.b / len, p.c / len, p.d / len};
}

void ExtractFrustum(const tmatrix& a, const tmatrix& b, tfrustum& out) {
    tmatrix m;
    MatrixMultiply(a, b, m);
    // Each plane is column 4 plus sign times column `column`.
    struct Recipe {
        int column;
        float sign;
    };
    constexpr Recipe recipes[6] = {{0, -1}, {0, 1}, {1, 1}, {1, -1}, {2, -1}, {2, 1}};
    for (int i = 0; i < 6; ++i) {
        const Recipe& k = recipes[i];
        tplane& p = out.Planes[i];
        p.a = m.m[0][3] + k.sign * m.m[0][k.column];
        p.b = m.m[1][3] + k.sign * m.m[1][k.column];
        p.c = m.m[2][3] + k.sign * m.m[2][k.column];
        p.d = m.m[3][3] + k.sign * m.m[3][k.column];
        PlaneNormalize(p);
    }
}

// ---- Quaternions ----------------------------------------------------------

void QuaternionInit(tquaternion& q, bool zero) { q = {0, 0, 0, zero ? 0.0f : 1.0f}; }

void QuaternionMultiply(const tquaternion& a, const tquaternion& b, tquaternion& out) {
    const tquaternion r = {
        a.y * b.z - a.z * b.y + a.w * b.x + b.w * a.x,
        a.z * b.x - a.x * b.z + a.w * b.y + b.w * a.y,
        a.x * b.y - a.y * b.x + a.w * b.z + b.w * a.z,
        a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
    };
    out = r;
}

void QuaternionConjugate(const tquaternion& q, tquaternion& out) { out = {-q.x, -q.y, -q.z, q.w}; }

float QuaternionMagnitude(const tquaternion& q) {
    const double w = q.w, x = q.x, y = q.y, z = q.z;
    return static_cast<float>(std::sqrt(w * w + x * x + y * y + z * z));
}

void QuaternionNormalize(tquaternion& q) {
    const float m = QuaternionMagnitude(q);
    q = {q.x / m, q.y / m, q.z / m, q.w / m};
}

void QuaternionInverse(tquaternion& q) {
    QuaternionConjugate(q, q);
    QuaternionNormalize(q);
}

void QuaternionRotateVector(tvector& v, const tquaternion& q) {
    const tquaternion p = {v.x, v.y, v.z, 0};
    tquaternion t;
    QuaternionMultiply(q, p, t);
    tquaternion s = q;
    QuaternionInverse(s);
    tquaternion r;
    QuaternionMultiply(t, s, r);
    v = {r.x, r.y, r.z};
}

void QuaternionRotateAxis(tquaternion& q, float angle, float ax, float ay, float az) {
    const float theta = angle * DegreesToRadians;
    float len2 = ax * ax + ay * ay + az * az;
    if (len2 == 0.0f) len2 = 1e-12f;
    const float r = 1.0f / std::sqrt(len2);
    const float s = std::sin(theta / 2);
    const float c = std::cos(theta / 2);
    const tquaternion t = {ax * r * s, ay * r * s, az * r * s, c};
    QuaternionMultiply(t, q, q);
}

void QuaternionFromEuler(tquaternion& out, float ax, float ay, float az) {
    tquaternion qx, qy, qz;
    QuaternionInit(out, false);
    QuaternionInit(qx, false);
    QuaternionInit(qy, false);
    QuaternionInit(qz, false);
    QuaternionRotateAxis(qx, ax, 1, 0, 0);
    QuaternionRotateAxis(qy, ay, 0, 1, 0);
    QuaternionRotateAxis(qz, az, 0, 0, 1);
    QuaternionMultiply(qy, qx, out);
    QuaternionMultiply(qz, out, out);
}

void QuaternionRotateEuler(tquaternion& q, float ax, float ay, float az) {
    tquaternion e;
    QuaternionFromEuler(e, ax, ay, az);
    QuaternionMultiply(q, e, q);
}

void RotateAroundPoint(tvector& v, const tquaternion& q, const tvector& centre) {
    tvector t;
    VectorSub(v, centre, t);
    QuaternionRotateVector(t, q);
    VectorAdd(centre, t, v);
}

// ---- Scalars and clock ----------------------------------------------------

uint32_t FloatToDWord(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

uint32_t FloatToDWord(const float* f) { return FloatToDWord(*f); }

int64_t TruncToInt(long double x) {
    // 2^63 is exact in long double; anything at or beyond it (or NaN) has
    // no 64-bit value.
    constexpr long double limit = 9223372036854775808.0L;
    if (!(x > -limit - 1.0L && x < limit)) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}

int32_t ElapsedMilliseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t ms =
        TruncToInt(static_cast<long double>(now.QuadPart - ClockStart) / TicksPerMillisecond);
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

void ZorDX_GeometryInitialization() {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) frequency.QuadPart = 0;
    TicksPerMillisecond = static_cast<long double>(frequency.QuadPart / 1000);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    ClockStart = start.QuadPart;
}
