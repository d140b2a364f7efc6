// The D3DX matrix helpers: row-major, left-handed, points as row vectors.
#include <d3dx8.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

struct Point {
    float x, y, z, w;
};

Point Apply(const D3DXMATRIX& m, Point p) {
    return {p.x * m._11 + p.y * m._21 + p.z * m._31 + p.w * m._41,
            p.x * m._12 + p.y * m._22 + p.z * m._32 + p.w * m._42,
            p.x * m._13 + p.y * m._23 + p.z * m._33 + p.w * m._43,
            p.x * m._14 + p.y * m._24 + p.z * m._34 + p.w * m._44};
}

void ExpectPoint(Point actual, Point expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-5f);
    EXPECT_NEAR(actual.y, expected.y, 1e-5f);
    EXPECT_NEAR(actual.z, expected.z, 1e-5f);
    EXPECT_NEAR(actual.w, expected.w, 1e-5f);
}

TEST(D3DXMatrix, EachFunctionWritesThroughAndReturnsItsFirstArgument) {
    D3DXMATRIX m, a, b;
    D3DXVECTOR3 eye{0, 0, -1}, at{0, 0, 0}, up{0, 1, 0};
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(&m, 1, 1, 1, 2), &m);
    EXPECT_EQ(D3DXMatrixLookAtLH(&m, &eye, &at, &up), &m);
    EXPECT_EQ(D3DXMatrixRotationX(&m, 1), &m);
    EXPECT_EQ(D3DXMatrixRotationY(&m, 1), &m);
    EXPECT_EQ(D3DXMatrixRotationZ(&m, 1), &m);
    EXPECT_EQ(D3DXMatrixTranslation(&m, 1, 2, 3), &m);
    EXPECT_EQ(D3DXMatrixScaling(&m, 1, 2, 3), &m);
    D3DXMatrixScaling(&a, 1, 1, 1);
    D3DXMatrixScaling(&b, 1, 1, 1);
    EXPECT_EQ(D3DXMatrixMultiply(&m, &a, &b), &m);
}

TEST(D3DXMatrix, PerspectiveFovMapsNearAndFarToZeroAndOne) {
    D3DXMATRIX m;
    const float fov = 0.785398126f, aspect = 577.0f / 449.0f, zn = 0.1f, zf = 4224.0f;
    D3DXMatrixPerspectiveFovLH(&m, fov, aspect, zn, zf);
    const float yScale = 1.0f / std::tan(fov / 2);
    EXPECT_FLOAT_EQ(m._22, yScale);
    EXPECT_FLOAT_EQ(m._11, yScale / aspect);
    EXPECT_FLOAT_EQ(m._33, zf / (zf - zn));
    EXPECT_FLOAT_EQ(m._34, 1.0f);
    EXPECT_FLOAT_EQ(m._43, -zn * zf / (zf - zn));
    EXPECT_FLOAT_EQ(m._44, 0.0f);
    const Point nearPoint = Apply(m, {0, 0, zn, 1}), farPoint = Apply(m, {0, 0, zf, 1});
    EXPECT_NEAR(nearPoint.z / nearPoint.w, 0.0f, 1e-5f);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, 1e-5f);
}

TEST(D3DXMatrix, LookAtPutsTheTargetOnThePositiveZAxis) {
    D3DXMATRIX m;
    const D3DXVECTOR3 eye{0, 0, -48}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMatrixLookAtLH(&m, &eye, &at, &up);
    ExpectPoint(Apply(m, {0, 0, 0, 1}), {0, 0, 48, 1});
    ExpectPoint(Apply(m, {1, 2, -48, 1}), {1, 2, 0, 1});

    // Looking along +x from the origin: +x becomes depth, -z becomes right.
    const D3DXVECTOR3 eye2{0, 0, 0}, at2{10, 0, 0};
    D3DXMatrixLookAtLH(&m, &eye2, &at2, &up);
    ExpectPoint(Apply(m, {5, 0, 0, 1}), {0, 0, 5, 1});
    ExpectPoint(Apply(m, {0, 0, -1, 1}), {1, 0, 0, 1});
    ExpectPoint(Apply(m, {0, 1, 0, 1}), {0, 1, 0, 1});
}

TEST(D3DXMatrix, RotationsTurnAxesTheLeftHandedWay) {
    const float quarter = std::numbers::pi_v<float> / 2;
    D3DXMATRIX m;
    D3DXMatrixRotationX(&m, quarter);
    EXPECT_FLOAT_EQ(m._23, 1.0f);
    ExpectPoint(Apply(m, {0, 1, 0, 1}), {0, 0, 1, 1});
    D3DXMatrixRotationY(&m, quarter);
    ExpectPoint(Apply(m, {0, 0, 1, 1}), {1, 0, 0, 1});
    D3DXMatrixRotationZ(&m, quarter);
    ExpectPoint(Apply(m, {1, 0, 0, 1}), {0, 1, 0, 1});
}

TEST(D3DXMatrix, TranslationScalingAndMultiplyInRowVectorOrder) {
    D3DXMATRIX scale, move, both;
    D3DXMatrixScaling(&scale, 2, 3, 4);
    D3DXMatrixTranslation(&move, 10, 20, 30);
    // Scale first, then move.
    D3DXMatrixMultiply(&both, &scale, &move);
    ExpectPoint(Apply(both, {1, 1, 1, 1}), {12, 23, 34, 1});
    // The result may be one of the operands.
    D3DXMatrixMultiply(&scale, &scale, &move);
    ExpectPoint(Apply(scale, {1, 1, 1, 1}), {12, 23, 34, 1});
    D3DXMatrixScaling(&scale, 2, 3, 4);
    D3DXMatrixMultiply(&move, &scale, &move);
    ExpectPoint(Apply(move, {1, 1, 1, 1}), {12, 23, 34, 1});
}

}  // namespace
