// The engine against the plain model: a few hundred random sequences, every step compared.
#include "ModelRun.h"

namespace cleavix::test::model {
namespace {

TEST(EditModel, RandomSequencesMatchTheModelWithUndo) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        ModelRun run(seed, true);
        const std::string error = run.run(30);
        ASSERT_TRUE(error.empty()) << error;
    }
}

TEST(EditModel, RandomSequencesMatchTheModelWithoutUndo) {
    for (uint32_t seed = 1001; seed <= 1030; ++seed) {
        ModelRun run(seed, false);
        const std::string error = run.run(30);
        ASSERT_TRUE(error.empty()) << error;
    }
}

} // namespace
} // namespace cleavix::test::model
