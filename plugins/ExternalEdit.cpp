#include "plugins/ExternalEdit.h"

#include "sample/WavWriter.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cleavix::plugins {

namespace fs = std::filesystem;

std::vector<std::string> splitCommandLine(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\\' && i + 1 < text.size() && (quote == 0 || text[i + 1] == '"' || text[i + 1] == '\\')) {
            word += text[++i];
            inWord = true;
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

std::string quoteCommandWord(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_of(" \t\r\n'\"\\") == std::string::npos;
    if (plain) {
        return word;
    }
    std::string out = "'";
    for (const char c : word) {
        if (c == '\'') {
            out += "'\\''"; // close, an escaped quote, open again
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::vector<std::string> editorWords(const std::string& editorCommand) {
    struct stat st {};
    if (editorCommand.find('/') != std::string::npos && ::stat(editorCommand.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode) && ::access(editorCommand.c_str(), X_OK) == 0) {
        return {editorCommand};
    }
    return splitCommandLine(editorCommand);
}

FileStamp stampOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return {true, int64_t(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec, int64_t(st.st_size)};
}

ExternalEdit::~ExternalEdit() {
    editorRunning(); // reaps an editor that has ended; one still open keeps running on its own
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

std::string ExternalEdit::newCopy(uint32_t dataLength, std::string& error) {
    if (folder_.empty()) {
        std::string pattern = (fs::path(workDir_) / "CXEDXXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = kMsgCopyFailed;
            return {};
        }
        folder_ = pattern;
    }
    // The header counts as well as the audio.
    struct statvfs vfs {};
    if (::statvfs(folder_.c_str(), &vfs) == 0 &&
        uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize) < uint64_t(dataLength) + 44u) {
        error = kMsgNoSpace;
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string pattern = (fs::path(folder_) / "CXTXXXXXX.wav").string();
        const int fd = ::mkstemps(pattern.data(), 4);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
            copy_ = pattern;
            return copy_;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error = kMsgCopyFailed;
    return {};
}

std::unique_ptr<jobs::Job> ExternalEdit::saveJob(const sample::SampleStore& store, std::string path, bool& ok) {
    return std::make_unique<jobs::FunctionJob>([&store, path = std::move(path), &ok](jobs::JobContext& context) {
        const auto& format = store.format();
        sample::WriteRequest request;
        request.fileName = path;
        request.length = format.dataLength;
        request.layout = format.channels == 2 ? sample::LayoutStereo : sample::LayoutMono;
        request.sampleChannels = format.channels;
        request.saveBits = 16;
        request.sampleRate = format.sampleRate;
        sample::BlockProgress progress;
        progress.report = [&](uint64_t done, uint64_t total) {
            context.setProgress(double(done), double(total), 0, 100);
        };
        ok = sample::WriteSplit(request, store.stream(), nullptr, progress).ok;
        // The writer replaced the file by renaming: keep it private.
        ok = ok && ::chmod(path.c_str(), 0600) == 0;
    });
}

pid_t ExternalEdit::launch(const std::string& editorCommand, const std::string& path) {
    std::vector<std::string> words = editorWords(editorCommand);
    if (words.empty() || path.empty()) {
        return -1;
    }
    words.push_back(path);
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

bool ExternalEdit::begin(jobs::JobFrame& jobs, const sample::SampleStore& store, const std::string& editorCommand,
                         std::function<void(bool)> done) {
    auto& prompter = jobs.prompter();
    if (splitCommandLine(editorCommand).empty()) {
        prompter.ask(jobs::MessageKind::Error, kMsgNoEditor, "", jobs::Buttons::Ok);
        return false;
    }
    if (jobs.busy()) {
        return false;
    }
    std::string error;
    const std::string path = newCopy(store.format().dataLength, error);
    if (path.empty()) {
        prompter.ask(jobs::MessageKind::Error, error, "", jobs::Buttons::Ok);
        return false;
    }
    saved_ = false;
    return jobs.start(saveJob(store, path, saved_), jobs::ProcessMode::Saving,
                      [this, &prompter, editorCommand, path, done = std::move(done)] {
                          if (!saved_) {
                              prompter.ask(jobs::MessageKind::Error, kMsgCopyFailed, "", jobs::Buttons::OkCancel);
                              if (done) {
                                  done(false);
                              }
                              return;
                          }
                          remember();
                          pid_ = launch(editorCommand, path);
                          if (pid_ < 0) {
                              prompter.ask(jobs::MessageKind::Error, kMsgEditorFailed, "", jobs::Buttons::Ok);
                          }
                          if (done) {
                              done(pid_ >= 0);
                          }
                      });
}

bool ExternalEdit::editorRunning() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ExternalEdit::remember() { stamp_ = stampOf(copy_); }

bool ExternalEdit::takeChange() {
    if (copy_.empty()) {
        return false;
    }
    const FileStamp now = stampOf(copy_);
    if (!now.exists || now == stamp_) {
        return false;
    }
    stamp_ = now;
    return true;
}

} // namespace cleavix::plugins
