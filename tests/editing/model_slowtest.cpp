// The engine against the plain model over thousands of random sequences.
#include "ModelRun.h"

namespace cleavix::test::model {
namespace {

TEST(EditModelSlow, ThousandsOfSequencesWithUndo) {
    for (uint32_t seed = 10000; seed < 13000; ++seed) {
        ModelRun run(seed, true);
        const std::string error = run.run(40);
        ASSERT_TRUE(error.empty()) << error;
    }
}

TEST(EditModelSlow, ThousandsOfSequencesWithoutUndo) {
    for (uint32_t seed = 20000; seed < 21000; ++seed) {
        ModelRun run(seed, false);
        const std::string error = run.run(40);
        ASSERT_TRUE(error.empty()) << error;
    }
}

} // namespace
} // namespace cleavix::test::model
