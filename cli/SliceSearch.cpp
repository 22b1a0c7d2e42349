#include "cli/SliceSearch.h"

#include "slicing/Slicer.h"

namespace cleavix::cli {

SearchOptions takeSearchOptions(Args& args) {
    SearchOptions options;
    options.unlinked = takeFlag(args, "--unlinked");
    if (const auto width = takeOption(args, "--width")) {
        const long long px = parseInteger(*width, "--width");
        if (px < 1 || px > 1000000) {
            throw UsageError("--width must lie between 1 and 1000000");
        }
        options.width = int(px);
    }
    return options;
}

bool loadAndSearch(CliEnv& env, const std::string& file, const SearchOptions& options) {
    if (!env.load(file)) {
        return false;
    }
    auto& slicer = env.session.slicer();
    slicer.channelMode().linked = !options.unlinked;
    slicer.setViewWidth(options.width);
    slicer.requestSearch();
    slicer.startSliceSearch();
    env.waitIdle();
    return true;
}

} // namespace cleavix::cli
