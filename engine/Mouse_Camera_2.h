// Turns mouse drags over the render panel into orbit, pan and dolly moves
// of a TGLCamera. The accumulated angles and offsets live here; every
// Update re-derives the camera's Position and Target from them, so the view
// never drifts through repeated small changes.
#pragma once

#include <cstdint>

#include "ZorDX_Geometry.h"

class TGLCamera;

class TMouseCamera {
public:
    TMouseCamera() = default;

    // Each takes panel pixels; a last position of -1 counts as none, so the
    // first motion from it moves nothing.
    void Pan(int32_t x, int32_t y);
    void Zoom(int32_t y);
    void Rotate(int32_t x, int32_t y);
    // Places the camera from the accumulated values and records x, y.
    void Update(int32_t x, int32_t y);
    // Zeroes the angles and offsets, then Update(-1, -1).
    void Reset();

    float PanSpeed = 0.01f;
    float ZoomSpeed = 0.2f;
    float RotateSpeed = 1.0f;
    int32_t LastX = -1;
    int32_t LastY = -1;
    float Pitch = 0;  // degrees, kept in [-89, 89]
    float Yaw = 0;    // degrees, wrapped once per change towards [0, 360)
    float PanX = 0;
    float PanY = 0;
    float Dolly = 0;
    TGLCamera* Camera = nullptr;  // not owned
    bool Enabled = true;
    tvector BasePosition = {0, 0, 0};
    tvector Center = {0, 0, 0};

private:
    bool Active() const { return Enabled && Camera != nullptr; }
};
