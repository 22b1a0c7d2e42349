#pragma once
// Editing in an external program: a wave copy of the sample in a private folder, the editor
// started on it without a shell, and the change test that offers the reload.
//
// The copy's folder is made with mkdtemp (mode 0700) in the working folder, so no other user can
// plant a link where the copy will be written; the copy itself is created exclusively with mode
// 0600; the folder goes with everything in it when this object does (at exit).
//
// Threads: main thread, except the save job, which runs on the job frame's worker.
#include "jobs/JobFrame.h"
#include "sample/SampleStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cleavix::plugins {

inline constexpr const char* kMsgNoEditor = "No wave editor specified!";
inline constexpr const char* kMsgNoSpace = "Insufficent free space!\r\n\r\nCheck your temporary file drive.";
inline constexpr const char* kMsgCopyFailed = "An error occurred whilst saving the temporary file for editing.";
inline constexpr const char* kMsgEditorFailed =
    "Error opening sample editor -\r\n\r\nCheck sample editor location is correct in options";
inline constexpr const char* kMsgEditedChanged = "File being edited externally has changed! Reload?";
inline constexpr const char* kMsgFileChanged = "File has changed! Reload?";

// "EditLoc" split like a command line: words at blanks, '…' and "…" quote, backslash escapes
// (outside single quotes). No expansion of any kind.
std::vector<std::string> splitCommandLine(const std::string& text);
// One word as splitCommandLine reads it back: as it is when nothing in it needs quoting, else in
// single quotes (a chosen program path with blanks stays one word).
std::string quoteCommandWord(const std::string& word);
// The editor's argument list: the setting split like a command line, or the whole setting as one
// word when it names a program file as it stands (a path with blanks typed without quotes).
std::vector<std::string> editorWords(const std::string& editorCommand);

// A file's modification time (nanoseconds) and size; equal stamps mean no change seen.
struct FileStamp {
    bool exists = false;
    int64_t mtimeNs = 0;
    int64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp stampOf(const std::string& path);

class ExternalEdit {
public:
    explicit ExternalEdit(std::string workDir) : workDir_(std::move(workDir)) {}
    ~ExternalEdit();
    ExternalEdit(const ExternalEdit&) = delete;
    ExternalEdit& operator=(const ExternalEdit&) = delete;

    // Edit Externally: the checks and their messages, the copy written by a save job (the
    // progress shows "Saving..."), then the editor started on it. done(true) once the editor was
    // started. False when nothing started (the message was shown).
    bool begin(jobs::JobFrame& jobs, const sample::SampleStore& store, const std::string& editorCommand,
               std::function<void(bool)> done = {});
    // The last editor started (-1: none); editorRunning() reaps it once it has ended.
    pid_t editorPid() const { return pid_; }
    bool editorRunning();

    // A new copy's name ("CXT" + unique + ".wav", created empty and exclusively in the private
    // folder). Empty with `error` set to the message to show: no free space for the header and
    // the data, or no folder.
    std::string newCopy(uint32_t dataLength, std::string& error);
    // The job that writes the whole sample as a Wave file to path; result.ok tells.
    static std::unique_ptr<jobs::Job> saveJob(const sample::SampleStore& store, std::string path, bool& ok);
    // Starts the editor on path; its pid, or -1 (spawn failed: the editor message applies).
    pid_t launch(const std::string& editorCommand, const std::string& path);
    // After the copy was written: the stamp the change test compares against.
    void remember();
    // Whether the copy changed since remember() (once per change: the stamp is then taken anew).
    bool takeChange();
    const std::string& copyPath() const { return copy_; }
    const std::string& folder() const { return folder_; }

private:
    std::string workDir_;
    std::string folder_;
    std::string copy_;
    FileStamp stamp_;
    pid_t pid_ = -1;
    bool saved_ = false;
};

} // namespace cleavix::plugins
