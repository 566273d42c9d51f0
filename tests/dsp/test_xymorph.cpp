// XY morph: the corner tables, the weighted blend and its numeric edge cases.
#include "dsp/XYMorph.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace nx {
namespace {

bool identical(const AnchorParams& a, const AnchorParams& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Levels are blended through amplitudes, so a corner's level comes back within float rounding; every
// other field of a corner is returned exactly.
void expectCorner(const AnchorParams& got, const AnchorParams& want) {
    EXPECT_NEAR(got.harmonicLevelDb, want.harmonicLevelDb, 1e-4f);
    EXPECT_NEAR(got.rhythmicLevelDb, want.rhythmicLevelDb, 1e-4f);
    EXPECT_NEAR(got.washLevelDb, want.washLevelDb, 1e-4f);
    EXPECT_NEAR(got.returnLevelDb, want.returnLevelDb, 1e-4f);
    AnchorParams levelsAligned = got;
    levelsAligned.harmonicLevelDb = want.harmonicLevelDb;
    levelsAligned.rhythmicLevelDb = want.rhythmicLevelDb;
    levelsAligned.washLevelDb = want.washLevelDb;
    levelsAligned.returnLevelDb = want.returnLevelDb;
    EXPECT_TRUE(identical(levelsAligned, want));
}

TEST(XYMorph, CornerTablesHoldTheCharacterValues) {
    const AnchorParams& w = XYMorph::whisper();
    EXPECT_EQ(w.harmonicLevelDb, 6.0f);
    EXPECT_EQ(w.lpHz, 12000.0f);
    EXPECT_EQ(w.freezePeaks, 16);
    const AnchorParams& b = XYMorph::brutal();
    EXPECT_EQ(b.rhythmicLevelDb, 3.0f);
    EXPECT_EQ(b.saturation, 0.75f);
    EXPECT_EQ(b.freezeTonality, 8.0f);
    EXPECT_EQ(b.freezePeaks, 7);
    EXPECT_EQ(b.grainLpHz, 3000.0f);
    const AnchorParams& a = XYMorph::abyss();
    EXPECT_EQ(a.stereoWidth, 2.0f);
    EXPECT_EQ(a.predelayMs, 250.0f);
    EXPECT_EQ(a.washLpHz, 3000.0f);
    const AnchorParams& m = XYMorph::monolith();
    EXPECT_EQ(m.hpHz, 60.0f);
    EXPECT_EQ(m.predelayMs, 400.0f);
    EXPECT_EQ(m.freeze, 0.6f);
    EXPECT_EQ(m.grainEchoDecay, 0.55f);
}

TEST(XYMorph, EachCornerReturnsItsTableForAnySharpness) {
    struct Case {
        float x, y;
        const AnchorParams& corner;
    };
    const Case cases[] = {{0, 0, XYMorph::whisper()},
                          {1, 0, XYMorph::brutal()},
                          {0, 1, XYMorph::abyss()},
                          {1, 1, XYMorph::monolith()}};
    for (const Case& c : cases) {
        for (float s : {0.0f, 0.1f, 1.0f, 2.6f, 30.0f}) {
            SCOPED_TRACE(testing::Message() << "x " << c.x << " y " << c.y << " s " << s);
            expectCorner(XYMorph::compute(c.x, c.y, s), c.corner);
        }
    }
}

TEST(XYMorph, CentreIsAnEvenBlend) {
    const AnchorParams r = XYMorph::compute(0.5f, 0.5f, 2.6f);
    struct Field {
        const char* name;
        float got, want, tolerance;
    };
    const Field fields[] = {
        {"harmonicLevelDb", r.harmonicLevelDb, -0.379f, 1e-3f},
        {"rhythmicLevelDb", r.rhythmicLevelDb, -3.529f, 1e-3f},
        {"washLevelDb", r.washLevelDb, 0.164f, 1e-3f},
        {"returnLevelDb", r.returnLevelDb, -3.0f, 1e-4f},
        {"hpHz", r.hpHz, 165.0f, 1e-3f},
        {"lpHz", r.lpHz, 7875.0f, 1e-2f},
        {"character", r.character, 0.675f, 1e-6f},
        {"saturation", r.saturation, 0.2625f, 1e-6f},
        {"darkness", r.darkness, 0.35f, 1e-6f},
        {"ducking", r.ducking, 0.2625f, 1e-6f},
        {"stereoWidth", r.stereoWidth, 1.0f, 1e-6f},
        {"predelayMs", r.predelayMs, 162.5f, 1e-4f},
        {"washLpHz", r.washLpHz, 5125.0f, 1e-2f},
        {"freeze", r.freeze, 0.3875f, 1e-6f},
        {"freezeTonality", r.freezeTonality, 5.75f, 1e-5f},
        {"grainLpHz", r.grainLpHz, 6000.0f, 1e-2f},
        {"grainEchoDecay", r.grainEchoDecay, 0.55f, 1e-6f},
    };
    for (const Field& f : fields) EXPECT_NEAR(f.got, f.want, f.tolerance) << f.name;
    EXPECT_EQ(r.freezePeaks, 14); // 13.75 rounded
    EXPECT_EQ(r.grainEchoes, 3);
}

TEST(XYMorph, QuarterPositionLeansTowardWhisper) {
    // Weights 0.8943 / 0.0514 / 0.0514 / 0.0030.
    const AnchorParams r = XYMorph::compute(0.25f, 0.25f, 2.6f);
    EXPECT_NEAR(r.harmonicLevelDb, 5.249f, 2e-3f);
    EXPECT_NEAR(r.hpHz, 283.87f, 2e-2f);
    EXPECT_NEAR(r.character, 0.8943f * 0.3f + 0.0514f * 1.0f + 0.0514f * 0.55f + 0.0030f * 0.85f, 1e-3f);
    EXPECT_EQ(r.freezePeaks, 16);
    EXPECT_EQ(r.grainEchoes, 3);
}

TEST(XYMorph, UnderflowingWeightsGiveTheNearestCornerExactly) {
    struct Case {
        float x, y;
        const AnchorParams& corner;
    };
    // 0.25^30 per corner sums far below 1e-12; off-centre positions round to their own corner.
    const Case cases[] = {{0.5f, 0.5f, XYMorph::monolith()},
                          {0.45f, 0.45f, XYMorph::whisper()},
                          {0.5f, 0.45f, XYMorph::brutal()},
                          {0.45f, 0.5f, XYMorph::abyss()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " y " << c.y);
        EXPECT_TRUE(identical(XYMorph::compute(c.x, c.y, 30.0f), c.corner));
    }
}

TEST(XYMorph, OutOfRangeInputsAreClampedOrRaised) {
    EXPECT_TRUE(identical(XYMorph::compute(-3.0f, 7.0f, 2.6f), XYMorph::compute(0.0f, 1.0f, 2.6f)));
    EXPECT_TRUE(identical(XYMorph::compute(0.3f, 0.7f, 0.0f), XYMorph::compute(0.3f, 0.7f, 0.1f)));
    EXPECT_TRUE(identical(XYMorph::compute(0.3f, 0.7f, -5.0f), XYMorph::compute(0.3f, 0.7f, 0.1f)));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(identical(XYMorph::compute(nan, 1.0f, 2.6f), XYMorph::compute(0.0f, 1.0f, 2.6f)));
    EXPECT_TRUE(identical(XYMorph::compute(0.3f, 0.7f, nan), XYMorph::compute(0.3f, 0.7f, 0.1f)));
}

TEST(XYMorph, BlendStaysInsideTheCornersEverywhere) {
    for (float s : {0.1f, 1.0f, 2.6f, 8.0f}) {
        for (int i = 0; i <= 10; ++i) {
            for (int j = 0; j <= 10; ++j) {
                const AnchorParams r = XYMorph::compute(i / 10.0f, j / 10.0f, s);
                SCOPED_TRACE(testing::Message() << "x " << i / 10.0f << " y " << j / 10.0f << " s " << s);
                EXPECT_NEAR(r.returnLevelDb, -3.0f, 1e-4f); // all four corners agree
                EXPECT_GE(r.harmonicLevelDb, -18.0f - 1e-3f);
                EXPECT_LE(r.harmonicLevelDb, 6.0f + 1e-3f);
                EXPECT_GE(r.hpHz, 60.0f - 1e-3f);
                EXPECT_LE(r.hpHz, 300.0f + 1e-3f);
                EXPECT_GE(r.freezePeaks, 7);
                EXPECT_LE(r.freezePeaks, 16);
                EXPECT_EQ(r.grainEchoes, 3);
            }
        }
    }
}

} // namespace
} // namespace nx
