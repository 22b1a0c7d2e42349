#pragma once
// The sample store: the working file holding the loaded sample as 16-bit signed little-endian
// PCM (stereo interleaved, 4 bytes a frame), together with the sample format that says how to
// read it. After a load the file holds 80 guard bytes (zeros) after the audio; format().dataLength
// alone says where the sample ends.
//
// Every position is an unsigned 32-bit byte offset into the audio. Owned by the session; used by
// the main thread and by the one running worker (never both at once: see jobs/JobFrame.h).
#include "sample/FileAndMemoryStream.h"
#include "sample/SampleFormat.h"

#include <cstdint>
#include <memory>

namespace cleavix::sample {

class SampleStore {
public:
    explicit SampleStore(std::unique_ptr<TFileAndMemoryStream> stream);

    TFileAndMemoryStream& stream() { return *stream_; }
    const TFileAndMemoryStream& stream() const { return *stream_; }
    SampleFormat& format() { return format_; }
    const SampleFormat& format() const { return format_; }
    uint32_t dataLength() const { return format_.dataLength; }

    // Reads the audio bytes [position, position + count). Bytes outside [0, dataLength) read as 0,
    // so windows that reach past either end need no special cases.
    void readAudio(int64_t position, void* out, size_t count) const;
    // Reads 16-bit samples starting at byte `position` (even), zeros outside the audio.
    void readSamples(int64_t position, int16_t* out, size_t count) const;

    // Empties the store (the "no sample" state).
    void clear();

private:
    std::unique_ptr<TFileAndMemoryStream> stream_;
    SampleFormat format_;
};

} // namespace cleavix::sample
