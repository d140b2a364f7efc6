// The D3DX matrix helpers the engine builds its transforms with. Matrices
// are row-major and left-handed: points are row vectors multiplied on the
// left. Each function writes through its first argument and returns it.
#pragma once

#include <d3d8.h>

struct D3DXMATRIX : D3DMATRIX {};
static_assert(sizeof(D3DXMATRIX) == sizeof(D3DMATRIX));

struct D3DXVECTOR3 {
    float x, y, z;
};

// yScale = cot(fovY / 2), xScale = yScale / aspect; depth maps zn..zf to 0..1.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn,
                                       float zf);
// A view matrix looking from eye at at, with up roughly upwards.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
// out = m1 x m2; out may be m1 or m2.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2);
