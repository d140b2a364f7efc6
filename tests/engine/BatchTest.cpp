// Triangle submission, the depth sort, run grouping and animated texture
// ids, without a device.
#include <ZorDX_Render.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <thread>

namespace {

// The recursive partition sort with a hole, written plainly, over records
// and markers that stand for the vertex triples.
void ReferenceSort(std::vector<ttriangle_record>& r, std::vector<int>& m, int lo, int hi) {
    if (lo >= hi) return;
    const int mid = (lo + hi) / 2;
    const ttriangle_record pivot = r[mid];
    const int pivotMarker = m[mid];
    r[mid] = r[lo];
    m[mid] = m[lo];
    int i = lo, j = hi;
    do {
        while (TriangleNotBefore(r[j], pivot) && i < j) --j;
        if (j > i) {
            r[i] = r[j];
            m[i] = m[j];
            while (!TriangleNotBefore(r[i], pivot) && j > i) ++i;
        }
        if (j > i) {
            r[j] = r[i];
            m[j] = m[i];
        }
    } while (!(j <= i));
    r[i] = pivot;
    m[i] = pivotMarker;
    ReferenceSort(r, m, lo, i - 1);
    ReferenceSort(r, m, i + 1, hi);
}

ttriangle_record Record(float depth, uint8_t blend = 0, uint16_t bump = 0, uint8_t layers = 0,
                        uint16_t t0 = 0, uint16_t t1 = 0, uint16_t t2 = 0) {
    ttriangle_record r = {};
    r.Depth = depth;
    r.BlendMode = blend;
    r.BumpMap = bump;
    r.Layers = layers;
    r.Texture0 = t0;
    r.Texture1 = t1;
    r.Texture2 = t2;
    return r;
}

// Fills the viewport's triangles directly; corner 0's x carries the
// triangle's original position so that tests can follow the vertex triples.
void Fill(TGLViewport& v, const std::vector<ttriangle_record>& records) {
    v.Triangles.Count = static_cast<int32_t>(records.size());
    v.Triangles.Records = records;
    v.Triangles.Vertices.assign(records.size(), tvertex_triple{});
    for (size_t i = 0; i < records.size(); ++i) {
        for (tvertex_3d& corner : v.Triangles.Vertices[i]) corner.y = static_cast<float>(i);
        v.Triangles.Vertices[i][0].x = static_cast<float>(i);
    }
}

int Marker(const TGLViewport& v, int i) { return static_cast<int>(v.Triangles.Vertices[i][0].x); }

void AddFlatTriangle(TGLViewport& v, float z) {
    v.AddTriangle(-1, 1, z, 255, 255, 255, 0, 0, 1, 1, z, 255, 255, 255, 1, 0, 1, -1, z, 255, 255,
                  255, 1, 1);
}

}  // namespace

TEST(TriangleOrder, KeyComparison) {
    const ttriangle_record p = Record(-10, 2, 1, 1, 5, 5, 5);
    const struct {
        ttriangle_record a;
        bool notBefore;
    } cases[] = {
        {Record(-9, 0, 0, 0, 0, 0, 0), true},    // nearer: after
        {Record(-11, 9, 9, 9, 9, 9, 9), false},  // farther: before
        {Record(-10, 3, 0, 0, 0, 0, 0), true},   // then the blend mode (whole byte)
        {Record(-10, 1, 9, 9, 9, 9, 9), false},
        {Record(-10, 2, 2, 0, 0, 0, 0), true},   // bump map
        {Record(-10, 2, 1, 0, 9, 9, 9), false},  // layers
        {Record(-10, 2, 1, 1, 6, 0, 0), true},   // texture 0
        {Record(-10, 2, 1, 1, 5, 4, 9), false},  // texture 1
        {Record(-10, 2, 1, 1, 5, 5, 4), false},  // texture 2
        {Record(-10, 2, 1, 1, 5, 5, 5), true},   // equal
        {Record(-10, 2, 1, 1, 5, 5, 6), true},
        {Record(std::numeric_limits<float>::quiet_NaN()), false},  // unordered
    };
    for (const auto& k : cases) EXPECT_EQ(TriangleNotBefore(k.a, p), k.notBefore);
    EXPECT_FALSE(TriangleNotBefore(p, Record(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_TRUE(TriangleNotBefore(Record(-10, 0x80), Record(-10, 0x7F)));  // unsigned bytes
    EXPECT_TRUE(TriangleNotBefore(Record(-10, 0, 0x8000), Record(-10, 0, 1)));
}

TEST(TriangleOrder, WorkedExamples) {
    TGLViewport v;
    // One triangle: nothing to sort, one run.
    Fill(v, {Record(-5)});
    v.PrepareBatches();
    EXPECT_EQ(v.Triangles.Records[0].RunLength, 1);

    // A (state S, far), B (state T, middle), C (state S, near), given in
    // the order C, A, B: three runs A, B, C; the two S are not merged.
    Fill(v, {Record(-10, 0, 0, 0, 1), Record(-30, 0, 0, 0, 1), Record(-20, 0, 0, 0, 2)});
    v.PrepareBatches();
    EXPECT_EQ(Marker(v, 0), 1);
    EXPECT_EQ(Marker(v, 1), 2);
    EXPECT_EQ(Marker(v, 2), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v.Triangles.Records[i].RunLength, 1);

    // Equal depth: blend mode 0 before 11, and 64 apart from 0.
    Fill(v, {Record(-10, 11), Record(-10, 64), Record(-10, 0), Record(-10, 0)});
    v.PrepareBatches();
    EXPECT_EQ(v.Triangles.Records[0].BlendMode, 0);
    EXPECT_EQ(v.Triangles.Records[0].RunLength, 2);
    EXPECT_EQ(v.Triangles.Records[2].BlendMode, 11);
    EXPECT_EQ(v.Triangles.Records[2].RunLength, 1);
    EXPECT_EQ(v.Triangles.Records[3].BlendMode, 64);
    EXPECT_EQ(v.Triangles.Records[3].RunLength, 1);

    // Equal keys of different depths still form one run once adjacent.
    Fill(v, {Record(-1), Record(-3), Record(-2)});
    v.PrepareBatches();
    EXPECT_EQ(v.Triangles.Records[0].RunLength, 3);
    EXPECT_EQ(Marker(v, 0), 1);
    EXPECT_EQ(Marker(v, 2), 0);

    // No triangles: nothing happens.
    v.ClearTriangles();
    v.PrepareBatches();
    EXPECT_EQ(v.Triangles.Count, 0);
}

TEST(TriangleOrder, MatchesPlainRecursiveSortOnRandomTriangles) {
    std::mt19937 random(20261208);
    const float depths[] = {-1, -2, -2.5f, -3, -40, 0, std::numeric_limits<float>::quiet_NaN()};
    for (int round = 0; round < 300; ++round) {
        const int n = 1 + static_cast<int>(random() % (round < 200 ? 12 : 400));
        const bool withNaN = round % 5 == 0;
        std::vector<ttriangle_record> records;
        for (int i = 0; i < n; ++i)
            records.push_back(Record(depths[random() % (withNaN ? 7 : 6)],
                                     static_cast<uint8_t>(random() % 3 == 0 ? 64 : random() % 3),
                                     static_cast<uint16_t>(random() % 2),
                                     static_cast<uint8_t>(random() % 3),
                                     static_cast<uint16_t>(10006 + random() % 2),
                                     static_cast<uint16_t>(random() % 2), 0));
        std::vector<ttriangle_record> expected = records;
        std::vector<int> markers(n);
        for (int i = 0; i < n; ++i) markers[i] = i;
        ReferenceSort(expected, markers, 0, n - 1);

        TGLViewport v;
        Fill(v, records);
        v.SortTriangles(0, n - 1);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(Marker(v, i), markers[i]) << "round " << round << " position " << i;
            // The whole triple moved with its record.
            ASSERT_EQ(v.Triangles.Vertices[i][2].y, static_cast<float>(markers[i]));
        }
        if (withNaN) continue;
        for (int i = 1; i < n; ++i) {
            ASSERT_TRUE(TriangleNotBefore(v.Triangles.Records[i], v.Triangles.Records[i - 1]))
                << "round " << round << " position " << i;
        }
    }
}

TEST(TriangleOrder, SortsSubrangeOnly) {
    TGLViewport v;
    Fill(v, {Record(-1), Record(-5), Record(-3), Record(-4), Record(-9)});
    v.SortTriangles(1, 3);
    const int expected[] = {0, 1, 3, 2, 4};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Marker(v, i), expected[i]);
}

TEST(TriangleSubmission, AddTriangleCopiesCurrentState) {
    TGLCamera camera;
    camera.Position = MakeVector(0, 0, -48);
    TGLViewport v;
    v.SetCamera(&camera);
    v.CurrentTexture0 = 0x12345;  // only the low 16 bits are kept
    v.CurrentTexture1 = 10007;
    v.CurrentTexture2 = -1;
    v.CurrentBlendMode = 11;
    v.CurrentLayers = 2;
    v.CurrentBumpMap = 1;
    v.CurrentTag = 77;
    v.CurrentSpecular = 0xFF112233;
    v.AddTriangle(0, 0, 0, 1, 2, 3, 0.1f, 0.2f, 0, 3, 0, 4, 5, 6, 0.3f, 0.4f, 4, 3, 0, 7, 8, 9,
                  0.5f, 0.6f);
    ASSERT_EQ(v.Triangles.Count, 1);
    const ttriangle_record& r = v.Triangles.Records[0];
    EXPECT_EQ(r.Tag, 77);
    EXPECT_EQ(r.Texture0, 0x2345);
    EXPECT_EQ(r.Texture1, 10007);
    EXPECT_EQ(r.Texture2, 0xFFFF);
    EXPECT_EQ(r.BlendMode, 11);
    EXPECT_EQ(r.Layers, 2);
    EXPECT_EQ(r.BumpMap, 1);
    EXPECT_EQ(r.RunLength, 0);
    // (p1 - p0) x (p2 - p1) = (0, 3, 0) x (4, 0, 0) = (0, 0, -12).
    EXPECT_FLOAT_EQ(r.Normal.z, -1);
    // Farthest corner from the eye: (4, 3, 0) at sqrt(16 + 9 + 2304).
    EXPECT_FLOAT_EQ(r.Depth, -std::sqrt(2329.0f));
    const tvertex_triple& t = v.Triangles.Vertices[0];
    EXPECT_EQ(t[0].Diffuse, 0xFF010203u);
    EXPECT_EQ(t[2].Diffuse, 0xFF070809u);
    for (const tvertex_3d& c : t) EXPECT_EQ(c.Specular, 0xFF112233u);
    EXPECT_FLOAT_EQ(t[1].tu0, 0.3f);
    EXPECT_FLOAT_EQ(t[1].tu2, 0.3f);
    EXPECT_FLOAT_EQ(t[1].tv1, 0.4f);

    // Clearing keeps nothing visible, and later triangles start at 0 again.
    v.ClearTriangles();
    EXPECT_EQ(v.Triangles.Count, 0);
    AddFlatTriangle(v, 5);
    EXPECT_EQ(v.Triangles.Count, 1);
    EXPECT_EQ(v.Triangles.Records[0].Texture1, 10007);
}

TEST(TriangleSubmission, AddQuadSplitsIntoTwoTriangles) {
    TGLViewport v;
    v.AddQuad(-16, 16, 0, 0, 0, 0, 0, 0, 16, 16, 0, 1, 1, 1, 1, 0, 16, -16, 0, 2, 2, 2, 1, 1, -16,
              -16, 0, 3, 3, 3, 0, 1);
    ASSERT_EQ(v.Triangles.Count, 2);
    const int corners[2][3] = {{0, 2, 3}, {0, 1, 2}};
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(v.Triangles.Vertices[i][k].Diffuse & 0xFF,
                      static_cast<uint32_t>(corners[i][k]));
    EXPECT_FLOAT_EQ(v.Triangles.Records[0].Normal.z, -1);
    EXPECT_FLOAT_EQ(v.Triangles.Records[1].Normal.z, -1);
}

TEST(TriangleSubmission, ManyTrianglesStayPaired) {
    TGLViewport v;
    for (int i = 0; i < 3000; ++i) AddFlatTriangle(v, static_cast<float>(i % 7));
    ASSERT_EQ(v.Triangles.Count, 3000);
    v.PrepareBatches();
    // Seven depths, one state: farthest z first, each triple with its record.
    EXPECT_EQ(v.Triangles.Records[0].RunLength, 3000);
    for (int i = 0; i < 3000; ++i)
        ASSERT_FLOAT_EQ(v.Triangles.Records[i].Depth,
                        -VectorLength(MakeVector(1, 1, v.Triangles.Vertices[i][0].z)));
    EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].z, 6);
    EXPECT_FLOAT_EQ(v.Triangles.Vertices[2999][0].z, 0);
}

class AnimatedTextures : public ::testing::Test {
protected:
    void SetUp() override {
        ZorDX_GeometryInitialization();
        Tanimated_textures& table = v.AnimatedTextures[1];
        table.BaseId = 100;
        table.Count = 2;
        taset still;
        still.FrameTime = 0;
        still.FrameCount = 3;
        still.Frames = {Frame(1, 0, 0), Frame(2, 0.25f, 0), Frame(3, 0.5f, 0)};
        taset scroll;
        scroll.Mode = AnimationScroll;
        scroll.FrameTime = 32000;  // the clock stays in the first step
        scroll.FrameCount = 1;
        scroll.Frames = {Frame(7, 0.5f, 0.25f, 1.25f)};
        table.Animations = {still, scroll};
    }

    static tanimation_frame Frame(uint16_t id, float u, float v, float end = 0) {
        tanimation_frame f = {};
        f.Id = id;
        f.U = u;
        f.V = v;
        f.End = end;
        return f;
    }

    // A triangle whose Texture0 is id, with corner texture coordinates
    // (0.3, 0.1), (0.4, 0.2), (0.5, 0.3).
    uint16_t Resolve(uint16_t id) {
        v.ClearTriangles();
        v.CurrentTexture0 = id;
        v.AddTriangle(0, 0, 0, 0, 0, 0, 0.3f, 0.1f, 1, 0, 0, 0, 0, 0, 0.4f, 0.2f, 0, 1, 0, 0, 0, 0,
                      0.5f, 0.3f);
        v.ResolveAnimatedTexture(0);
        return v.Triangles.Records[0].Texture0;
    }

    // Animated id: top bit, table bit 0, start frame in bits 1-6,
    // animation + 1 in bits 8-14.
    static uint16_t Id(int table, int frame, int animationPlusOne) {
        return static_cast<uint16_t>(0x8000 | table | frame << 1 | animationPlusOne << 8);
    }

    TGLViewport v;
};

TEST_F(AnimatedTextures, OutOfRangeAnimationResolvesToZero) {
    EXPECT_EQ(Resolve(Id(1, 0, 0)), 0);  // animation bits 0
    EXPECT_EQ(Resolve(Id(1, 0, 3)), 0);  // only two animations
    EXPECT_EQ(Resolve(Id(0, 0, 1)), 0);  // table 0 is empty
    // A count larger than the animations behind it is not trusted.
    v.AnimatedTextures[1].Count = 9;
    EXPECT_EQ(Resolve(Id(1, 0, 5)), 0);
}

TEST_F(AnimatedTextures, StandingAnimationUsesStartFrameClamped) {
    EXPECT_EQ(Resolve(Id(1, 0, 1)), 101);
    EXPECT_EQ(Resolve(Id(1, 2, 1)), 103);
    EXPECT_EQ(Resolve(Id(1, 40, 1)), 103);                  // past the last frame: the last
    EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].tu0, 0.3f);  // coordinates untouched
}

TEST_F(AnimatedTextures, CyclingStepsThroughFramesAndShiftsSetZeroOnly) {
    taset& cycle = v.AnimatedTextures[1].Animations[0];
    cycle.FrameTime = 40;
    // Wait into the second step, then resolve within one step so that the
    // expected frame is known.
    while (ElapsedMilliseconds() < 40) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int32_t before = ElapsedMilliseconds();
        const uint16_t id = Resolve(Id(1, 2, 1));
        if (ElapsedMilliseconds() / 40 != before / 40) continue;
        const int g = static_cast<int>((before / 40 + 2) % 3);
        EXPECT_EQ(id, 101 + g);
        const float du = cycle.Frames[g].U - cycle.Frames[2].U;
        EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].tu0, 0.3f + du);
        EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][2].tu0, 0.5f + du);
        EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].tv0, 0.1f);
        EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].tu1, 0.3f);  // sets 1 and 2 stay
        EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].tu2, 0.3f);
        return;
    }
    FAIL() << "the clock never held still for one resolve";
}

TEST_F(AnimatedTextures, NegativeFrameTimeStillPicksAFrameInRange) {
    taset& cycle = v.AnimatedTextures[1].Animations[0];
    cycle.FrameTime = -1;
    while (ElapsedMilliseconds() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint16_t id = Resolve(Id(1, 0, 1));
    EXPECT_GE(id, 101);
    EXPECT_LE(id, 103);
}

TEST_F(AnimatedTextures, ScrollingShiftsVByPeriod) {
    // h = trunc((1.25 - 0.25) / 2 * 256) = 128; at step 0, v moves by 128/256.
    EXPECT_EQ(Resolve(Id(1, 0, 2)), 107);
    const tvertex_triple& t = v.Triangles.Vertices[0];
    EXPECT_FLOAT_EQ(t[0].tv0, 0.6f);
    EXPECT_FLOAT_EQ(t[2].tv0, 0.8f);
    EXPECT_FLOAT_EQ(t[0].tu0, 0.3f);
    EXPECT_FLOAT_EQ(t[0].tv1, 0.1f);

    // A zero period leaves the coordinates alone instead of dividing by it.
    v.AnimatedTextures[1].Animations[1].Frames[0].End = 0.25f;
    EXPECT_EQ(Resolve(Id(1, 0, 2)), 107);
    EXPECT_FLOAT_EQ(v.Triangles.Vertices[0][0].tv0, 0.1f);
}

TEST_F(AnimatedTextures, PrepareBatchesResolvesOnlyAnimatedBaseIds) {
    v.ClearTriangles();
    v.CurrentTexture0 = Id(1, 1, 1);
    v.CurrentTexture1 = Id(1, 1, 1);  // texture 1 is never animated
    AddFlatTriangle(v, 0);
    v.CurrentTexture0 = 10006;
    AddFlatTriangle(v, 0);
    v.PrepareBatches();
    EXPECT_EQ(v.Triangles.Records[0].Texture0, 102);
    EXPECT_EQ(v.Triangles.Records[0].Texture1, Id(1, 1, 1));
    EXPECT_EQ(v.Triangles.Records[1].Texture0, 10006);
}
