// The engine against the plain model over thousands of random sequences.
#include "ModelRun.h"

#include <string>

namespace cleavix::test::model {
namespace {

// A block of seeds. Each block is a test of its own, so a parallel test run spreads the blocks over
// the cores instead of ending on one long test.
struct Seeds {
    uint32_t first;
    uint32_t count;
    bool undo;
};

class EditModelSlow : public ::testing::TestWithParam<Seeds> {};

TEST_P(EditModelSlow, ThousandsOfSequences) {
    const Seeds seeds = GetParam();
    for (uint32_t seed = seeds.first; seed < seeds.first + seeds.count; ++seed) {
        ModelRun run(seed, seeds.undo);
        const std::string error = run.run(40);
        ASSERT_TRUE(error.empty()) << error;
    }
}

std::string seedNames(const ::testing::TestParamInfo<Seeds>& info) {
    return "Seeds" + std::to_string(info.param.first) + "To" + std::to_string(info.param.first + info.param.count - 1);
}

INSTANTIATE_TEST_SUITE_P(WithUndo, EditModelSlow,
                         ::testing::Values(Seeds{10000, 1000, true}, Seeds{11000, 1000, true}, Seeds{12000, 1000, true}),
                         seedNames);
INSTANTIATE_TEST_SUITE_P(WithoutUndo, EditModelSlow, ::testing::Values(Seeds{20000, 1000, false}), seedNames);

} // namespace
} // namespace cleavix::test::model
