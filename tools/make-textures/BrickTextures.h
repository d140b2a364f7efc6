// The sample textures: a wall of bricks and its Dot3 normal map, both made
// from one height field so that the bumps line up with the colours.
#pragma once

#include <cstdint>
#include <vector>

#include <Graphics.h>

// Heights in texels, row by row, wrapping at the edges.
struct THeightField {
    int Width = 0, Height = 0;
    std::vector<float> Heights;

    float At(int x, int y) const;  // wraps x and y
};

// A running-bond wall: courses of BrickHeight texels, bricks BrickWidth
// long, every other course shifted by half a brick, joints of MortarWidth.
struct TBrickLayout {
    int BrickWidth = 64;
    int BrickHeight = 32;
    int MortarWidth = 3;
    int BevelWidth = 4;     // texels over which a brick's edge rises
    float BrickRise = 3.0f; // height of a brick face above the joints
};

THeightField BrickHeights(int width, int height, const TBrickLayout& layout);

// The colour texture: brick faces in a few shades of red, grey joints, both
// darker where the surface lies lower.
TBitmap BrickColors(const THeightField& field, const TBrickLayout& layout);

// The Dot3 map of a height field: per texel the unit normal from central
// differences (x to the right, y towards the top of the picture, z out of
// the surface), stored as trunc(127 c + 128) in red, green and blue.
TBitmap NormalMap(const THeightField& field);

// The channel value of a normal component in [-1, 1].
uint8_t EncodeNormalComponent(float c);
