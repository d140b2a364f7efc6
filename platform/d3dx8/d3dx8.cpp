#include "d3dx8.h"

#include <cmath>

namespace {

D3DXMATRIX Identity() {
    D3DXMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DXVECTOR3 Subtract(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// A zero vector stays zero rather than turning into NaNs.
D3DXVECTOR3 Normalize(const D3DXVECTOR3& v) {
    const float length = std::sqrt(Dot(v, v));
    if (length == 0.0f) return v;
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn,
                                       float zf) {
    const float yScale = 1.0f / std::tan(fovY / 2.0f);
    D3DXMATRIX m{};
    m._11 = yScale / aspect;
    m._22 = yScale;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    const D3DXVECTOR3 z = Normalize(Subtract(*at, *eye));
    const D3DXVECTOR3 x = Normalize(Cross(*up, z));
    const D3DXVECTOR3 y = Cross(z, x);
    D3DXMATRIX m = Identity();
    m._11 = x.x; m._12 = y.x; m._13 = z.x;
    m._21 = x.y; m._22 = y.y; m._23 = z.y;
    m._31 = x.z; m._32 = y.z; m._33 = z.z;
    m._41 = -Dot(x, *eye);
    m._42 = -Dot(y, *eye);
    m._43 = -Dot(z, *eye);
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    D3DXMATRIX m = Identity();
    m._22 = c; m._23 = s;
    m._32 = -s; m._33 = c;
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    D3DXMATRIX m = Identity();
    m._11 = c; m._13 = -s;
    m._31 = s; m._33 = c;
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    D3DXMATRIX m = Identity();
    m._11 = c; m._12 = s;
    m._21 = -s; m._22 = c;
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMATRIX m = Identity();
    m._41 = x; m._42 = y; m._43 = z;
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    D3DXMATRIX m = Identity();
    m._11 = sx; m._22 = sy; m._33 = sz;
    *out = m;
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2) {
    D3DXMATRIX product;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += m1->m[row][k] * m2->m[k][col];
            product.m[row][col] = sum;
        }
    *out = product;
    return out;
}
