// Feeds each file named (or each file in each folder named) to the fuzz target once, as the
// regression test of every build without libFuzzer. A crash or sanitizer report fails the run, and
// the input's name is printed before it runs, so the failure names it. Folders that do not exist
// are skipped (a target with no regression inputs yet); nothing at all to replay is a failure.
#include "FuzzTarget.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace {

void replay(const std::filesystem::path& file) {
    std::cerr << "replaying " << file.string() << std::endl;
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
        } else if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        replay(file);
    }
    std::cout << "replayed " << files.size() << " inputs\n";
    return files.empty() ? 1 : 0;
}
