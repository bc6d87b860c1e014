// OrvEnc's option parsing (GNU forms, ranges, conflicts), how effort, steps
// and targets become the encoder's options, and the largest temporal layer
// count the frame header can reference for a frame count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EncoderApp/EncoderOptions.h"

namespace {

orv::EncoderOptions parse(std::vector<std::string> args) {
    std::vector<const char*> argv{"OrvEnc"};
    for (const auto& a : args) argv.push_back(a.c_str());
    return orv::parseEncoderOptions(static_cast<int>(argv.size()), argv.data());
}

std::string errorOf(std::vector<std::string> args) {
    try {
        parse(std::move(args));
    } catch (const orv::UsageError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(EncoderOptions, DefaultsAndDerivedConnectivity) {
    const orv::EncoderOptions o = parse({"-o", "out/walk.orv", "frames"});
    EXPECT_EQ(o.nSL, 8);
    EXPECT_EQ(o.nTL, 4);
    EXPECT_FALSE(o.refFirstFrame);
    EXPECT_EQ(o.baseLayerPred, 1);
    EXPECT_FALSE(o.steps);
    EXPECT_EQ(o.precisionBits[0], orv::kDefaultPrecisionBits);
    EXPECT_EQ(o.connectivity, "out/walk_con.obj");
    EXPECT_EQ(o.frames, std::vector<std::string>{"frames"});
    EXPECT_EQ(orv::defaultConnectivityPath("walk.bin"), "walk.bin_con.obj");
}

TEST(EncoderOptions, GnuForms) {
    const orv::EncoderOptions o = parse({"a.obj", "--spatial-layers=5", "-t", "3", "-p14", "--output", "x.orv",
                                         "--ref-first-frame", "--base-layer-pred", "global", "-qc", "c.obj",
                                         "--", "-b.obj"});
    EXPECT_EQ(o.nSL, 5);
    EXPECT_EQ(o.nTL, 3);
    EXPECT_EQ(o.precisionBits[2], 14);
    EXPECT_EQ(o.output, "x.orv");
    EXPECT_TRUE(o.refFirstFrame);
    EXPECT_EQ(o.baseLayerPred, 0);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.connectivity, "c.obj");
    EXPECT_EQ(o.frames, (std::vector<std::string>{"a.obj", "-b.obj"}));
    // Unique prefixes of long names are accepted.
    EXPECT_EQ(parse({"--spat", "2", "-o", "x.orv", "f"}).nSL, 2);
}

TEST(EncoderOptions, PrecisionAndSteps) {
    const orv::EncoderOptions p = parse({"-p", "15,13,12", "-o", "x.orv", "f"});
    EXPECT_EQ(p.precisionBits[0], 15);
    EXPECT_EQ(p.precisionBits[1], 13);
    EXPECT_EQ(p.precisionBits[2], 12);
    const orv::EncoderOptions s = parse({"--steps", "0.5,0.25,1e-3", "-o", "x.orv", "f"});
    ASSERT_TRUE(s.steps);
    EXPECT_EQ(*s.steps, (std::vector<double>{0.5, 0.25, 1e-3}));
    EXPECT_EQ(*parse({"--steps=2", "-o", "x.orv", "f"}).steps, (std::vector<double>{2, 2, 2}));
}

TEST(EncoderOptions, HelpAndVersionNeedNothingElse) {
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-h", "--spatial-layers", "3"}).help);
    EXPECT_TRUE(parse({"-V"}).version);
}

TEST(EncoderOptions, ClearErrors) {
    EXPECT_NE(errorOf({"-s", "0", "-o", "x.orv", "f"}).find("from 1 to 255"), std::string::npos);
    EXPECT_NE(errorOf({"-s", "256", "-o", "x.orv", "f"}).find("'256'"), std::string::npos);
    EXPECT_NE(errorOf({"-t", "2x", "-o", "x.orv", "f"}).find("--temporal-layers"), std::string::npos);
    EXPECT_NE(errorOf({"-p", "0", "-o", "x.orv", "f"}).find("--precision"), std::string::npos);
    EXPECT_NE(errorOf({"-p", "25", "-o", "x.orv", "f"}).find("from 1 to 24"), std::string::npos);
    EXPECT_NE(errorOf({"-p", "12,13", "-o", "x.orv", "f"}).find("one number of bits or three"), std::string::npos);
    for (const char* bad : {"0", "-1", "nan", "inf", "1,2", "1,,2", "x"})
        EXPECT_NE(errorOf({"--steps", bad, "-o", "x.orv", "f"}).find("--steps"), std::string::npos) << bad;
    EXPECT_NE(errorOf({"-p", "12", "--steps", "1", "-o", "x.orv", "f"}).find("not both"), std::string::npos);
    EXPECT_NE(errorOf({"--base-layer-pred", "both", "-o", "x.orv", "f"}).find("'global' or 'local'"),
              std::string::npos);
    EXPECT_NE(errorOf({"--frobnicate", "-o", "x.orv", "f"}).find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_NE(errorOf({"-z", "-o", "x.orv", "f"}).find("unknown option '-z'"), std::string::npos);
    EXPECT_NE(errorOf({"--quiet=yes", "-o", "x.orv", "f"}).find("takes no value"), std::string::npos);
    EXPECT_NE(errorOf({"f", "-o"}).find("needs a value"), std::string::npos);
    EXPECT_NE(errorOf({"f", "--spatial-layers"}).find("needs a value"), std::string::npos);
    EXPECT_NE(errorOf({"f"}).find("-o OUT.orv"), std::string::npos);
    EXPECT_NE(errorOf({"-o", "x.orv"}).find("no frames"), std::string::npos);
    EXPECT_NE(errorOf({"-o", "x.orv", "-c", "x.orv", "f"}).find("connectivity"), std::string::npos);
}

TEST(EncoderOptions, EffortAndItsRateDistortionOptions) {
    const orv::EncoderOptions d = parse({"-o", "x.orv", "f"});
    EXPECT_EQ(d.effort, orv::kDefaultEffort);
    EXPECT_EQ(orv::rdOptionsFor(d).firstFrameRatio, orv::RdOptions::forEffort(orv::kDefaultEffort).firstFrameRatio);
    EXPECT_EQ(orv::rdOptionsFor(parse({"-e2", "-o", "x.orv", "f"})).spatialLayers, 10);
    // An explicit layer count wins over the effort's own.
    const orv::EncoderOptions s = parse({"--effort", "2", "-s", "5", "-o", "x.orv", "f"});
    EXPECT_EQ(orv::rdOptionsFor(s).spatialLayers, 0);
    EXPECT_TRUE(orv::rdOptionsFor(s).rdoq);
    // Three precisions keep their exact steps whatever the effort.
    const orv::RdOptions apart = orv::rdOptionsFor(parse({"-e", "2", "-p", "15,13,12", "-o", "x.orv", "f"}));
    double q[3];
    orv::stepsForOptions(1.0 / 4096, apart, q);
    EXPECT_EQ(q[0], 1.0 / 32768);
    EXPECT_EQ(q[1], 1.0 / 8192);
    EXPECT_TRUE(apart.deadZone);
    // Explicit steps are plain rounding.
    const orv::EncoderOptions st = parse({"--steps", "1", "-o", "x.orv", "f"});
    EXPECT_EQ(orv::effectiveEffort(st), 0);
    EXPECT_EQ(orv::effectiveEffort(parse({"-e", "0", "--steps", "1", "-o", "x.orv", "f"})), 0);
    for (const char* bad : {"-1", "x", ""})
        EXPECT_NE(errorOf({"--effort", bad, "-o", "x.orv", "f"}).find("from 0 to 2"), std::string::npos) << bad;
}

TEST(EncoderOptions, TargetsExcludeEachOtherAndTheStep) {
    const orv::EncoderOptions t = parse({"--target-max-error=2e-4", "-o", "x.orv", "f"});
    ASSERT_TRUE(t.target);
    EXPECT_EQ(t.target->kind, orv::TargetKind::MaxErrorOverDiagonal);
    EXPECT_EQ(t.target->value, 2e-4);
    EXPECT_EQ(parse({"--target-bpvf", "1.5", "--target-bpvf", "2", "-o", "x.orv", "f"}).target->value, 2.0);
    EXPECT_NE(errorOf({"--steps", "1", "--target-bpvf", "2", "-o", "x.orv", "f"}).find("--target-bpvf searches"),
              std::string::npos);
    for (const char* bad : {"0", "-1", "nan", "inf", "1x", ""})
        EXPECT_NE(errorOf({"--target-kg", bad, "-o", "x.orv", "f"}).find("--target-kg needs a positive number"),
                  std::string::npos)
            << bad;
}

TEST(EncoderOptions, TemporalLayersTheFrameHeaderCanReference) {
    // Groups after the first need their key frame within 126 frames of the
    // previous one: 2^(nTL-1) <= 64 once there are two full groups.
    EXPECT_EQ(orv::maxTemporalLayers(1000, false), 7);
    EXPECT_EQ(orv::maxTemporalLayers(257, false), 7);
    // Referencing frame 0 lifts that; the middle frame must still lie
    // within 126 frames of the key frame: groups of at most 128.
    EXPECT_EQ(orv::maxTemporalLayers(1000, true), 8);
    // One group (plus a one-frame tail) of 128 fits whatever the count asks.
    EXPECT_EQ(orv::maxTemporalLayers(129, false), 31);
    EXPECT_EQ(orv::maxTemporalLayers(130, false), 31);
    EXPECT_EQ(orv::maxTemporalLayers(1, false), 31);
    EXPECT_EQ(orv::maxTemporalLayers(65535, false), 7);
}

}  // namespace

TEST(EncoderOptions, ReferenceChoiceOnAtEffortOneAndTwoUnlessFixed) {
    EXPECT_TRUE(orv::rdOptionsFor(parse({"-o", "x.orv", "f"})).chooseReferences);
    EXPECT_TRUE(orv::rdOptionsFor(parse({"-e", "2", "-o", "x.orv", "f"})).chooseReferences);
    EXPECT_FALSE(orv::rdOptionsFor(parse({"-e", "0", "-o", "x.orv", "f"})).chooseReferences);
    EXPECT_FALSE(orv::rdOptionsFor(parse({"--fixed-references", "-o", "x.orv", "f"})).chooseReferences);
    EXPECT_FALSE(orv::rdOptionsFor(parse({"-e", "2", "--fixed-references", "-o", "x.orv", "f"})).chooseReferences);
}
