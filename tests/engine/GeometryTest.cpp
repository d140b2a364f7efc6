#include <ZorDX_Geometry.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace {

void ExpectVector(const tvector& v, float x, float y, float z, float eps = 1e-5f) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

void ExpectQuaternion(const tquaternion& q, float x, float y, float z, float w, float eps = 1e-6f) {
    EXPECT_NEAR(q.x, x, eps);
    EXPECT_NEAR(q.y, y, eps);
    EXPECT_NEAR(q.z, z, eps);
    EXPECT_NEAR(q.w, w, eps);
}

tmatrix Numbered() {
    tmatrix m;
    for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = static_cast<float>(i + 1) * 0.5f - 3.0f;
    return m;
}

bool SameMatrix(const tmatrix& a, const tmatrix& b) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (a.m[r][c] != b.m[r][c]) return false;
    return true;
}

// Rows are the usual left-handed perspective of the device helpers:
// xScale, yScale, zf/(zf-zn) with 1 in m34, -zn*zf/(zf-zn) in m43.
tmatrix Perspective(float fovY, float aspect, float zn, float zf) {
    tmatrix p = {};
    const float yScale = 1.0f / std::tan(fovY / 2);
    p.m11 = yScale / aspect;
    p.m22 = yScale;
    p.m33 = zf / (zf - zn);
    p.m34 = 1;
    p.m43 = -zn * zf / (zf - zn);
    return p;
}

}  // namespace

TEST(Geometry, MatrixLayoutNamesMatchRowsAndColumns) {
    tmatrix m = Numbered();
    EXPECT_EQ(&m.m12, &m.m[0][1]);
    EXPECT_EQ(&m.m43, &m.m[3][2]);
    EXPECT_EQ(&m.m44, &m.m[3][3]);
}

TEST(Geometry, VectorArithmeticAllowsAliasedResult) {
    tvector a = MakeVector(1, 2, 3);
    const tvector b = MakeVector(4, -5, 6);
    VectorAdd(a, b, a);
    ExpectVector(a, 5, -3, 9);
    VectorSub(a, b, a);
    ExpectVector(a, 1, 2, 3);
    VectorScale(a, a, -2);
    ExpectVector(a, -2, -4, -6);
    tvector c;
    VectorCross(MakeVector(1, 0, 0), MakeVector(0, 1, 0), c);
    ExpectVector(c, 0, 0, 1);
    EXPECT_FLOAT_EQ(VectorLength(MakeVector(2, 3, 6)), 7);
    EXPECT_FLOAT_EQ(VectorDistance(MakeVector(1, 1, 1), MakeVector(3, 4, 7)), 7);
    tvector n = MakeVector(0, 3, 4);
    VectorNormalize(n);
    ExpectVector(n, 0, 0.6f, 0.8f);
}

TEST(Geometry, TriangleNormal) {
    tvector n;
    // The demo square's first three corners.
    TriangleNormal(MakeVector(-16, 16, 0), MakeVector(16, 16, 0), MakeVector(16, -16, 0), n);
    ExpectVector(n, 0, 0, -1);
    // Collinear corners leave the zero cross product alone instead of
    // dividing by its length.
    TriangleNormal(MakeVector(0, 0, 0), MakeVector(1, 1, 1), MakeVector(2, 2, 2), n);
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 0.0f);
    EXPECT_FALSE(std::isnan(n.x));
}

TEST(Geometry, TriangleRadiusTakesFarthestCorner) {
    const tvector p = MakeVector(0, 0, -48);
    const struct {
        tvector a, b, c;
        float expected;
    } cases[] = {
        {{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, 50},
        {{0, 0, 2}, {0, 0, 1}, {0, 0, 0}, 50},
        {{0, 0, 0}, {0, 0, 5}, {0, 0, 1}, 53},
        {{3, 0, -48}, {0, 3, -48}, {0, 0, -45}, 3},  // equidistant corners
    };
    for (const auto& k : cases) {
        float r = -1;
        TriangleRadius(k.a, k.b, k.c, p, r);
        EXPECT_FLOAT_EQ(r, k.expected);
    }
}

TEST(Geometry, VectorToColor) {
    const struct {
        tvector v;
        uint32_t color;
    } cases[] = {
        {{0, 0, 1}, 0xFF8080FFu},          {{1, 0, 0}, 0xFFFF8080u},
        {{-1, -1, -1}, 0xFF010101u},       {{0, 0, 0.5f}, 0xFF8080BFu},  // the demo's start light
        {{-0.75f, 0.75f, 0}, 0xFF20DF80u},  // trunc(32.75), trunc(223.25)
        {{0, 0, 5}, 0xFF8080FFu},           // out of range: clamped, no carry
        {{-3, 0, 0}, 0xFF008080u},
    };
    for (const auto& k : cases) EXPECT_EQ(VectorToColor(k.v), k.color) << k.v.x << ' ' << k.v.z;
}

TEST(Geometry, DominantAxisPrefersEarlierAxisOnTies) {
    const struct {
        tvector v;
        int16_t axis;
    } cases[] = {
        {{1, -1, 0}, 0}, {{0, 2, -2}, 1}, {{0, 0, 0}, 0},
        {{0, 0, -1}, 2}, {{1, 0, -1}, 0}, {{0.5f, -0.7f, 0.6f}, 1},
    };
    for (const auto& k : cases) EXPECT_EQ(DominantAxis(k.v), k.axis);
}

TEST(Geometry, MatrixMultiply) {
    const tmatrix a = Numbered();
    tmatrix out;
    MatrixMultiply(IdentityMatrix, a, out);
    EXPECT_TRUE(SameMatrix(out, a));
    MatrixMultiply(a, IdentityMatrix, out);
    EXPECT_TRUE(SameMatrix(out, a));

    // Row vectors: translation in the fourth row composes by addition.
    tmatrix t1 = IdentityMatrix, t2 = IdentityMatrix;
    t1.m41 = 1;
    t1.m42 = 2;
    t2.m41 = 10;
    t2.m43 = 5;
    MatrixMultiply(t1, t2, out);
    EXPECT_FLOAT_EQ(out.m41, 11);
    EXPECT_FLOAT_EQ(out.m42, 2);
    EXPECT_FLOAT_EQ(out.m43, 5);

    // Not commutative: a * b reads rows of a against columns of b.
    tmatrix s = IdentityMatrix;
    s.m12 = 1;  // x feeds y
    tmatrix r = IdentityMatrix;
    r.m21 = 2;  // y feeds x
    MatrixMultiply(s, r, out);
    EXPECT_FLOAT_EQ(out.m11, 3);
    EXPECT_FLOAT_EQ(out.m22, 1);
    MatrixMultiply(r, s, out);
    EXPECT_FLOAT_EQ(out.m11, 1);
    EXPECT_FLOAT_EQ(out.m22, 3);
}

TEST(Geometry, ExtractFrustumOfIdentityViewAndPerspective) {
    const tmatrix proj = Perspective(0.785398126f, 577.0f / 449.0f, 0.1f, 1000.0f);
    tfrustum f;
    ExtractFrustum(IdentityMatrix, proj, f);
    for (const tplane& p : f.Planes)
        EXPECT_NEAR(std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c), 1.0f, 1e-6f);

    // Right and left mirror each other in x and face inwards.
    EXPECT_LT(f.Planes[0].a, 0);
    EXPECT_GT(f.Planes[1].a, 0);
    EXPECT_FLOAT_EQ(f.Planes[0].a, -f.Planes[1].a);
    EXPECT_LT(f.Planes[3].b, 0);  // top
    EXPECT_GT(f.Planes[2].b, 0);  // bottom
    // Far: z <= 1000.
    ExpectVector({f.Planes[4].a, f.Planes[4].b, f.Planes[4].c}, 0, 0, -1);
    EXPECT_NEAR(f.Planes[4].d, 1000, 1.0f);
    // Near is column 4 + column 3 (z >= -w): with q = zf / (zf - zn) it
    // lies at z = zn * q / (1 + q), about half the near distance, not at the
    // z = zn that column 3 alone would give.
    const tplane& n = f.Planes[5];
    ExpectVector({n.a, n.b, n.c}, 0, 0, 1);
    const float q = 1000.0f / (1000.0f - 0.1f);
    EXPECT_NEAR(n.d, -0.1f * q / (1 + q), 1e-6f);

    // The eye-space point (0, 0, 50) is inside all six planes.
    for (const tplane& p : f.Planes) EXPECT_GT(p.c * 50 + p.d, 0);
}

TEST(Geometry, QuaternionMultiplyAllowsAliasedResult) {
    const tquaternion a = {0.1f, -0.2f, 0.3f, 0.9f};
    const tquaternion b = {-0.4f, 0.5f, 0.6f, 0.2f};
    tquaternion separate;
    QuaternionMultiply(a, b, separate);
    tquaternion aliasA = a;
    QuaternionMultiply(aliasA, b, aliasA);
    tquaternion aliasB = b;
    QuaternionMultiply(a, aliasB, aliasB);
    ExpectQuaternion(aliasA, separate.x, separate.y, separate.z, separate.w, 0);
    ExpectQuaternion(aliasB, separate.x, separate.y, separate.z, separate.w, 0);
    // i * j = k (Hamilton), j * i = -k.
    tquaternion k;
    QuaternionMultiply({1, 0, 0, 0}, {0, 1, 0, 0}, k);
    ExpectQuaternion(k, 0, 0, 1, 0);
    QuaternionMultiply({0, 1, 0, 0}, {1, 0, 0, 0}, k);
    ExpectQuaternion(k, 0, 0, -1, 0);
}

TEST(Geometry, QuaternionInverseNormalises) {
    EXPECT_FLOAT_EQ(QuaternionMagnitude({1, 2, 2, 4}), 5);
    tquaternion q = {0, 0, 3, 4};
    QuaternionInverse(q);
    ExpectQuaternion(q, 0, 0, -0.6f, 0.8f);
}

TEST(Geometry, QuaternionRotateAxis) {
    tquaternion q;
    QuaternionInit(q, false);
    QuaternionRotateAxis(q, 90, 0, 0, 5);  // the axis is normalised
    const float h = std::sin(static_cast<float>(M_PI) / 4);
    ExpectQuaternion(q, 0, 0, h, h);
    tvector v = MakeVector(1, 0, 0);
    QuaternionRotateVector(v, q);
    ExpectVector(v, 0, 1, 0);

    // A zero axis is guarded: q is multiplied by (0, 0, 0, cos(angle / 2)).
    tquaternion z = {0.1f, 0.2f, 0.3f, 0.4f};
    QuaternionRotateAxis(z, 120, 0, 0, 0);
    ExpectQuaternion(z, 0.05f, 0.1f, 0.15f, 0.2f);

    // The new rotation is applied after the one q already holds.
    QuaternionInit(q, false);
    QuaternionRotateAxis(q, 90, 1, 0, 0);
    QuaternionRotateAxis(q, 90, 0, 0, 1);
    v = MakeVector(0, 1, 0);  // X: -> (0, 0, 1); then Z leaves it
    QuaternionRotateVector(v, q);
    ExpectVector(v, 0, 0, 1);
}

TEST(Geometry, QuaternionFromEulerRotatesXThenYThenZ) {
    tquaternion q;
    QuaternionFromEuler(q, 0, 0, 0);
    ExpectQuaternion(q, 0, 0, 0, 1, 0);

    QuaternionFromEuler(q, 90, 90, 0);
    tvector v = MakeVector(0, 0, 1);
    QuaternionRotateVector(v, q);
    ExpectVector(v, 0, -1, 0);

    QuaternionFromEuler(q, 0, 90, 90);  // (1,0,0) -Y-> (0,0,-1) -Z-> same
    v = MakeVector(1, 0, 0);
    QuaternionRotateVector(v, q);
    ExpectVector(v, 0, 0, -1);
    QuaternionFromEuler(q, 90, 0, 90);  // (0,1,0) -X-> (0,0,1) -Z-> same
    v = MakeVector(0, 1, 0);
    QuaternionRotateVector(v, q);
    ExpectVector(v, 0, 0, 1);

    // RotateEuler post-multiplies: identity * e == e.
    tquaternion r;
    QuaternionInit(r, false);
    QuaternionRotateEuler(r, 30, 40, 50);
    QuaternionFromEuler(q, 30, 40, 50);
    ExpectQuaternion(r, q.x, q.y, q.z, q.w);
}

TEST(Geometry, RotateAroundPointOrbitsTheCentre) {
    tquaternion q;
    QuaternionInit(q, false);
    QuaternionRotateEuler(q, 0, 90, 0);
    tvector v = MakeVector(0, 0, -48);
    RotateAroundPoint(v, q, MakeVector(0, 0, 0));
    ExpectVector(v, -48, 0, 0, 1e-4f);
    v = MakeVector(5, 1, -10);
    RotateAroundPoint(v, q, MakeVector(5, 1, 0));
    ExpectVector(v, -5, 1, 0, 1e-5f);
}

TEST(Geometry, FloatToDWordGivesBitPattern) {
    EXPECT_EQ(FloatToDWord(1.0f), 0x3F800000u);
    EXPECT_EQ(FloatToDWord(-0.0f), 0x80000000u);
    EXPECT_EQ(FloatToDWord(0.785398126f), 0x3F490FDAu);
    const float start = 540.0f;
    EXPECT_EQ(FloatToDWord(&start), 0x44070000u);
}

// Every case holds whatever the width of long double: each value is exact in
// a double, the narrowest long double there is.
TEST(Geometry, TruncToIntRoundsTowardZeroAndSaturatesToMinimum) {
    const int64_t lowest = std::numeric_limits<int64_t>::min();
    const struct {
        long double x;
        int64_t expected;
    } cases[] = {
        {2.9L, 2},
        {-2.9L, -2},
        {0.0L, 0},
        {-0.5L, 0},
        {9223372036854774784.0L, 9223372036854774784},  // 2^63 - 1024, the largest double below 2^63
        {-9223372036854774784.0L, -9223372036854774784},
        {9223372036854775808.0L, lowest},
        {-9223372036854775808.0L, lowest},
        {-1e30L, lowest},
        {1e30L, lowest},
        {std::numeric_limits<long double>::quiet_NaN(), lowest},
        {std::numeric_limits<long double>::infinity(), lowest},
    };
    for (const auto& k : cases) EXPECT_EQ(TruncToInt(k.x), k.expected) << static_cast<double>(k.x);
    // The largest long double below 2^63 is still in range: it truncates to a
    // value at least as large as the largest double below 2^63.
    const long double belowLimit = 0x1p63L - 0x1p63L * std::numeric_limits<long double>::epsilon() / 2;
    EXPECT_GE(TruncToInt(belowLimit), 9223372036854774784);
}

TEST(Geometry, ClockStartsAtZeroAndGrows) {
    ZorDX_GeometryInitialization();
    const int32_t first = ElapsedMilliseconds();
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 100);  // generous: a loaded machine may pause the test
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int32_t second = ElapsedMilliseconds();
    EXPECT_GE(second, first + 29);
    EXPECT_GE(ElapsedMilliseconds(), second);
}
