#include "slicing/export/InstrumentExport.h"

#include "slicing/export/HydrogenKitWriter.h"
#include "slicing/export/MidiFileWriter.h"
#include "slicing/export/SfzWriter.h"
#include "slicing/export/TargetFiles.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace cleavix::slicing::instrument {

namespace {

std::string trimmedFolder(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool wantsInstrument(const Request& r) { return !r.sfzFile.empty() || !r.midiFile.empty() || !r.hydrogenDir.empty(); }

} // namespace

SlicePlan InstrumentExport::plan(const Request& request) const {
    const auto files = planSegmentsInLoop(slicer_.slicePoints(), slicer_.left(), slicer_.right(), store_.format(),
                                          slicer_.channelMode(), request.slicesName);
    return planSlices(files, slicer_.left(), slicer_.right(), store_.format(), request.options.keys);
}

std::string InstrumentExport::refusal(const Request& request) {
    if (request.slicesName.empty()) {
        return "The slice files need a name";
    }
    if (!wantsInstrument(request)) {
        return {};
    }
    if (store_.format().channels == 2 && !slicer_.channelMode().linked && slicer_.channelMode().selection == 3) {
        return "An instrument takes one set of slices: link the channels, or choose the first or the second";
    }
    if (const std::string folder = directoryOf(request.slicesName); !isFolder(folder)) {
        return "The folder \"" + folder + "\" for the slice files does not exist";
    }
    if (!request.sfzFile.empty()) {
        if (const std::string p = targetProblem(request.sfzFile, ".sfz"); !p.empty()) {
            return p;
        }
    }
    if (!request.midiFile.empty()) {
        if (const std::string p = targetProblem(request.midiFile, ".mid"); !p.empty()) {
            return p;
        }
    }
    if (!request.hydrogenDir.empty()) {
        if (const std::string p = folderProblem(request.hydrogenDir); !p.empty()) {
            return p;
        }
    }
    slicer_.rebuild();
    const SlicePlan slices = plan(request);
    if (slices.slices.empty()) {
        return slices.error;
    }
    if (!request.sfzFile.empty()) {
        if (const SfzText sfz = sfzText(slices, request.options.name, request.sfzFile); !sfz.error.empty()) {
            return sfz.error;
        }
    }
    if (!request.hydrogenDir.empty()) {
        if (const std::string p = kitProblem(slices); !p.empty()) {
            return p;
        }
    }
    if (!request.midiFile.empty()) {
        if (const MidiFile midi = midiFile(slices, slicer_.tempo(), request.options); !midi.error.empty()) {
            return midi.error;
        }
    }
    return {};
}

bool InstrumentExport::start(const Request& request, std::function<void(const Report&)> done, std::string* refused) {
    assert(jobs_.dispatcher().isMainThread());
    if (jobs_.busy()) {
        return false;
    }
    if (const std::string why = refusal(request); !why.empty()) {
        if (refused) {
            *refused = why;
        }
        return false;
    }
    return slicer_.saveSegmentsInLoop(request.slicesName, request.bits,
                                      [this, request, done = std::move(done)](const ExportReport& slices) {
                                          // The job's busy state holds until this call returns.
                                          jobs_.dispatcher().post([this, request, slices, done] {
                                              slicesWritten(request, slices, done);
                                          });
                                      });
}

void InstrumentExport::slicesWritten(const Request& request, const ExportReport& slices,
                                     std::function<void(const Report&)> done) {
    auto report = std::make_shared<Report>();
    report->slices = slices;
    if (!wantsInstrument(request)) {
        if (done) {
            done(*report);
        }
        return;
    }
    const bool stopped = !slices.ok && slices.failed.empty();
    SlicePlan slicePlan = plan(request);
    // The files as written: a retry under another name renamed them all, in plan order.
    if (slices.ok && slices.written.size() == slicePlan.slices.size()) {
        for (size_t i = 0; i < slicePlan.slices.size(); ++i) {
            slicePlan.slices[i].file = slices.written[i];
        }
    }
    if (stopped) {
        for (const std::string& name : {request.sfzFile, request.midiFile, request.hydrogenDir}) {
            if (!name.empty()) {
                report->failed.push_back(name + ": not written, the export was stopped");
            }
        }
        if (done) {
            done(*report);
        }
        return;
    }
    if (request.hydrogenDir.empty()) {
        writeTextFiles(request, slicePlan, *report);
        if (done) {
            done(*report);
        }
        return;
    }

    // The kit's own copies of the slices, then its drumkit.xml.
    const std::string folder = trimmedFolder(request.hydrogenDir);
    const std::string xmlName = folder + "/" + kDrumkitFile;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 && ::mkdir(folder.c_str(), 0777) != 0) {
        report->failed.push_back(folder + ": cannot make the kit folder: " + std::strerror(errno));
        writeTextFiles(request, slicePlan, *report);
        if (done) {
            done(*report);
        }
        return;
    }
    auto files = planSegmentsInLoop(slicer_.slicePoints(), slicer_.left(), slicer_.right(), store_.format(),
                                    slicer_.channelMode(), request.slicesName);
    const auto kitNames = kitFileNames(slicePlan, folder);
    for (size_t i = 0; i < files.size() && i < kitNames.size(); ++i) {
        files[i].name = kitNames[i];
    }
    auto outcome = std::make_shared<ExportOutcome>();
    const int level = slicer_.exportSettings.smoothEndPoints ? slicer_.smoothLevelInForce : 0;
    auto job = std::make_unique<TCutWave>(store_, files, request.bits, level, *outcome);
    const bool started = jobs_.start(std::move(job), jobs::ProcessMode::Saving,
                                     [this, request, slicePlan, outcome, report, xmlName, folder, done] {
        for (const std::string& failure : outcome->failed) {
            report->failed.push_back(failure);
        }
        if (outcome->ok()) {
            SlicePlan kit = slicePlan;
            for (size_t i = 0; i < kit.slices.size() && i < outcome->written.size(); ++i) {
                kit.slices[i].file = outcome->written[i];
            }
            if (const std::string error = writeFileAtomically(xmlName, drumkitXml(kit, request.options.name));
                error.empty()) {
                report->written.push_back(xmlName);
            } else {
                report->failed.push_back(xmlName + ": " + error);
            }
        } else {
            report->failed.push_back(xmlName + (outcome->aborted ? ": not written, the export was stopped"
                                                                 : ": not written, the kit's slice files are missing"));
        }
        writeTextFiles(request, slicePlan, *report);
        if (done) {
            done(*report);
        }
    });
    if (!started) {
        report->failed.push_back(xmlName + ": not written, another command was running");
        writeTextFiles(request, slicePlan, *report);
        if (done) {
            done(*report);
        }
    }
}

void InstrumentExport::writeTextFiles(const Request& request, const SlicePlan& slicePlan, Report& report) {
    auto write = [&report](const std::string& name, const std::string& bytes) {
        if (const std::string error = writeFileAtomically(name, bytes); error.empty()) {
            report.written.push_back(name);
        } else {
            report.failed.push_back(name + ": " + error);
        }
    };
    if (!request.sfzFile.empty()) {
        if (!report.slices.ok) {
            report.failed.push_back(request.sfzFile + ": not written, " + std::to_string(report.slices.failed.size()) +
                                    " of its slice files are missing");
        } else if (const SfzText sfz = sfzText(slicePlan, request.options.name, request.sfzFile); !sfz.error.empty()) {
            report.failed.push_back(request.sfzFile + ": " + sfz.error);
        } else {
            write(request.sfzFile, sfz.text);
        }
    }
    if (!request.midiFile.empty()) {
        if (const MidiFile midi = midiFile(slicePlan, slicer_.tempo(), request.options); !midi.error.empty()) {
            report.failed.push_back(request.midiFile + ": " + midi.error);
        } else {
            write(request.midiFile, std::string(midi.bytes.begin(), midi.bytes.end()));
        }
    }
}

} // namespace cleavix::slicing::instrument
