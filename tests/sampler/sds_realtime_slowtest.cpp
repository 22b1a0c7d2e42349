// A one-second 44.1 kHz sample sent through the emulated sampler with the virtual lines taking
// real time at 31250 baud: the wall clock against the standard's arithmetic.
#include "SdsRig.h"

#include "support/TestSupport.h"

#include <cmath>
#include <cstdio>

using namespace cleavix::test::sds;

TEST(SdsRealTime, OneSecondSampleAt31250Baud) {
    Rig rig;
    rig.ports->setRealTime(true);
    rig.useProfile(kSampler, kSampler);
    const auto samples = cleavix::test::testSignal(44100, 8);
    const auto start = std::chrono::steady_clock::now();
    const auto report = rig.send(samples, 44100);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(report.error, "");
    ASSERT_EQ(rig.sampler->sample(0)->samples, samples);
    const double packets = std::ceil(44100.0 / 40.0);
    const double sentBytes = 21 + packets * 127;
    const double withAnswers = (sentBytes + (packets + 1) * 6) / 3125.0;
    std::printf("real time: %.3f s on the wall clock; bytes sent / 3125 = %.3f s, with the answers %.3f s\n", wall,
                sentBytes / 3125.0, withAnswers);
    EXPECT_GE(wall, sentBytes / 3125.0);
    EXPECT_LT(wall, withAnswers * 1.5);
}
