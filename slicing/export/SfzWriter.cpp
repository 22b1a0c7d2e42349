#include "slicing/export/SfzWriter.h"

#include "slicing/export/TargetFiles.h"

#include <filesystem>

namespace cleavix::slicing::instrument {

namespace {

// Why an SFZ reader would misread `path` as a sample value, or empty. The value runs to the end of
// the line, so it is written last; '=' and '<' would start another opcode or header.
std::string samplePathProblem(const std::string& path) {
    if (path.empty()) {
        return "an empty sample path";
    }
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7f || c == '=' || c == '<' || c == '>' || c == '\\') {
            return "the sample path \"" + path + "\" holds a character SFZ readers cannot take (=, <, >, \\ or a "
                   "control character)";
        }
    }
    if (path.front() == ' ' || path.back() == ' ') {
        return "the sample path \"" + path + "\" starts or ends with a blank";
    }
    return {};
}

// One line of free text for a comment: line breaks become blanks.
std::string oneLine(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        out.push_back(c < 0x20 || c == 0x7f ? ' ' : char(c));
    }
    return out;
}

} // namespace

std::string relativePath(const std::string& file, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(fs::absolute(file, ec), ec);
    const fs::path base = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    fs::path relative = target.lexically_relative(base);
    if (relative.empty()) {
        relative = target;
    }
    return relative.generic_string();
}

SfzText sfzText(const SlicePlan& plan, const std::string& name, const std::string& sfzPath) {
    SfzText out;
    if (plan.slices.empty() || !plan.error.empty()) {
        out.error = plan.error.empty() ? "There are no slices" : plan.error;
        return out;
    }
    const std::string folder = directoryOf(sfzPath);
    std::string text = "// " + oneLine(name) + "\n";
    text += "// " + std::to_string(plan.slices.size()) + " slices, one region each, played as one-shots\n\n";
    text += "<group>\nloop_mode=one_shot\n\n";
    for (const Slice& slice : plan.slices) {
        const std::string sample = relativePath(slice.file, folder);
        if (const std::string problem = samplePathProblem(sample); !problem.empty()) {
            out.error = "The SFZ instrument cannot name its samples: " + problem;
            return out;
        }
        text += "<region> lokey=" + std::to_string(slice.keys.low) + " hikey=" + std::to_string(slice.keys.high) +
                " pitch_keycenter=" + std::to_string(slice.keys.root) + " loop_mode=one_shot sample=" + sample +
                "\n";
    }
    out.text = std::move(text);
    return out;
}

} // namespace cleavix::slicing::instrument
