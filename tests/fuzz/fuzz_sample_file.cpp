// The Wave/AIFF reader: header parse, the open check, and the whole load into a memory store.
#include "FuzzTarget.h"
#include "sample/SampleLoader.h"
#include "sample/WavParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cleavix::sample;
    cleavix::fuzz::InputFile file(data, size, ".wav");
    const SampleFileCheck check = CheckSampleFile(file.path());
    // The load reads every data byte: keep it to headers that claim a small sample.
    if (check.result == CheckLoadable && check.info.dataLength <= (1u << 20)) {
        TFileAndMemoryStream store;
        SampleFormat format;
        try {
            loadSampleData(file.path(), store, format, nullptr);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
