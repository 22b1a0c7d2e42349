#pragma once
// Save Segments in Loop with the instrument files beside the numbered slices: an SFZ instrument, a
// Standard MIDI File that replays the loop from those keys, and a Hydrogen drum kit folder. Every
// check runs before anything is written, so a refused export leaves the disk as it was; an export
// that fails part-way lists each file that is missing and why.
//
// Threads: main thread only. The slice files and the kit's copies are written by export workers
// through the job frame; the small text files are written on the main thread once those end.
#include "jobs/JobFrame.h"
#include "sample/SampleStore.h"
#include "slicing/Slicer.h"
#include "slicing/export/SlicePlan.h"

#include <functional>
#include <string>
#include <vector>

namespace cleavix::slicing::instrument {

struct Request {
    std::string slicesName; // the numbered files' chosen name ("loop.wav" -> loop01.wav, ...)
    uint8_t bits = 16;
    std::string sfzFile;      // empty: no SFZ instrument
    std::string midiFile;     // empty: no MIDI file
    std::string hydrogenDir;  // empty: no drum kit
    Options options;
};

struct Report {
    ExportReport slices;              // the numbered files
    std::vector<std::string> written; // the instrument files (the kit as its drumkit.xml)
    std::vector<std::string> failed;  // "name: why" for each instrument file not written
    bool ok() const { return slices.ok && failed.empty(); }
};

class InstrumentExport {
public:
    InstrumentExport(Slicer& slicer, jobs::JobFrame& jobs, sample::SampleStore& store)
        : slicer_(slicer), jobs_(jobs), store_(store) {}

    // Why the request cannot be carried out as it stands, or empty: a bad or special target, the
    // channels of unlinked stereo both chosen (two sets of slices), more slices than keys, no tempo
    // for the MIDI file, sample names an SFZ cannot hold.
    std::string refusal(const Request& request);

    // Writes the slices, then the kit's copies, then drumkit.xml, the SFZ and the MIDI file.
    // False (nothing written, `refused` saying why when it is given) when refused or busy;
    // otherwise done(report) once everything has ended.
    bool start(const Request& request, std::function<void(const Report&)> done, std::string* refused = nullptr);

private:
    SlicePlan plan(const Request& request) const;
    void slicesWritten(const Request& request, const ExportReport& slices, std::function<void(const Report&)> done);
    void writeTextFiles(const Request& request, const SlicePlan& plan, Report& report);

    Slicer& slicer_;
    jobs::JobFrame& jobs_;
    sample::SampleStore& store_;
};

} // namespace cleavix::slicing::instrument
