// The records the viewport collects and hands to the device: submitted
// triangles with their drawing state, the two vertex layouts, overlay
// groups, and the animated-texture tables.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ZorDX_Geometry.h"

// One submitted triangle and the state it is drawn with.
struct ttriangle_record {
    int32_t Tag;        // the caller's; the engine never reads it
    uint16_t Texture0;  // base texture, coordinate set 0
    uint16_t Texture1;  // Dot3 normal map, coordinate set 1
    uint16_t Texture2;  // third layer, coordinate set 2
    uint8_t BlendMode;  // low 6 bits choose the blending; all 8 sort
    uint8_t Layers;
    uint16_t BumpMap;  // non-zero: Dot3 bump mapping
    tvector Normal;
    float Depth;        // minus the farthest corner's distance from the eye
    int32_t RunLength;  // set on the first triangle of each run
};

// XYZ | DIFFUSE | SPECULAR | TEX3; all three coordinate sets carry the same
// (tu, tv), each stage picking the set it needs through TEXCOORDINDEX.
struct tvertex_3d {
    float x, y, z;
    uint32_t Diffuse;   // A8R8G8B8, alpha always 255
    uint32_t Specular;  // A8R8G8B8; the Dot3 stage reads it as a vector
    float tu0, tv0;
    float tu1, tv1;
    float tu2, tv2;
};
constexpr uint32_t VertexFormat3D = 0x3C2;

// XYZRHW | DIFFUSE | TEX1, already in screen space.
struct tvertex_2d {
    float x, y, z, rhw;
    uint32_t Diffuse;
    float tu, tv;
};
constexpr uint32_t VertexFormat2D = 0x144;

#pragma pack(push, 1)
struct toverlay_group {
    uint16_t TextureId;
    uint8_t BlendMode;
    uint32_t TriangleCount;
};
#pragma pack(pop)

using tvertex_triple = std::array<tvertex_3d, 3>;

static_assert(sizeof(tvertex_3d) == 44);
static_assert(sizeof(tvertex_2d) == 28);
static_assert(sizeof(toverlay_group) == 7);
static_assert(sizeof(tvertex_triple) == 132);

// Element i of Records and of Vertices belong to triangle i; every
// reordering moves both. Only the first Count elements are live: clearing
// keeps the storage for the next frame.
struct ttriangles_buffer {
    int32_t Count = 0;
    std::vector<ttriangle_record> Records;
    std::vector<tvertex_triple> Vertices;
};

// One frame of an animation. The id is relative to the table's base id;
// (U, V) is the frame's texture origin and End the far v of a scrolling
// strip. The record keeps its 36-byte size for tables built as binary data.
struct tanimation_frame {
    uint16_t Id;
    float U, V;
    float End;
    uint8_t Reserved[20];
};
static_assert(sizeof(tanimation_frame) == 36);

// Modes of taset.
constexpr uint8_t AnimationCycle = 0;   // step through the frames
constexpr uint8_t AnimationScroll = 1;  // scroll the start frame vertically

struct taset {
    uint8_t Mode = AnimationCycle;
    int16_t FrameTime = 0;  // ms per frame; 0 stands still on the start frame
    uint16_t FrameCount = 0;
    std::vector<tanimation_frame> Frames;
};

struct Tanimated_textures {
    uint16_t BaseId = 0;
    uint16_t Count = 0;
    std::vector<taset> Animations;
};
