#include "Mouse_Camera_2.h"

#include "ZorDX_Render.h"

void TMouseCamera::Pan(int32_t x, int32_t y) {
    if (!Active()) return;
    if (LastX == -1) LastX = x;
    if (LastY == -1) LastY = y;
    PanX -= static_cast<float>(x - LastX) * PanSpeed;
    PanY += static_cast<float>(y - LastY) * PanSpeed;
}

void TMouseCamera::Zoom(int32_t y) {
    if (!Active()) return;
    if (LastY == -1) LastY = y;
    Dolly += static_cast<float>(y - LastY) * ZoomSpeed;
}

void TMouseCamera::Rotate(int32_t x, int32_t y) {
    if (!Active()) return;
    if (LastX == -1) LastX = x;
    if (LastY == -1) LastY = y;
    Pitch += static_cast<float>(y - LastY) * RotateSpeed;
    Yaw += static_cast<float>(x - LastX) * RotateSpeed;
    if (Pitch > 89) Pitch = 89;
    if (Pitch < -89) Pitch = -89;
    if (Yaw >= 360) Yaw -= 360;
    if (Yaw < 0) Yaw += 360;
}

void TMouseCamera::Update(int32_t x, int32_t y) {
    if (!Active()) return;
    Camera->Position = BasePosition;
    Camera->Target = Center;
    tvector ax = MakeVector(1, 0, 0);
    tvector ay = MakeVector(0, 1, 0);
    tvector az = MakeVector(0, 0, 1);
    tquaternion q;
    QuaternionInit(q, false);
    QuaternionRotateEuler(q, Pitch, Yaw, 0);
    RotateAroundPoint(Camera->Position, q, Center);
    QuaternionRotateVector(ax, q);
    QuaternionRotateVector(ay, q);
    QuaternionRotateVector(az, q);
    VectorScale(ax, ax, PanX);
    VectorScale(ay, ay, PanY);
    tvector t;
    VectorScale(az, t, Dolly);
    VectorAdd(Camera->Position, ax, Camera->Position);
    VectorAdd(Camera->Position, ay, Camera->Position);
    VectorAdd(Camera->Position, t, Camera->Position);
    VectorAdd(Camera->Position, az, Camera->Target);
    LastX = x;
    LastY = y;
}

void TMouseCamera::Reset() {
    Pitch = 0;
    Yaw = 0;
    PanX = 0;
    PanY = 0;
    Dolly = 0;
    Update(-1, -1);
}
