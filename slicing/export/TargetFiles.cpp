#include "slicing/export/TargetFiles.h"

#include "sample/KernelFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace cleavix::slicing::instrument {

namespace {

bool printable(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return text;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// Why the folder that is to hold `path` cannot, or empty.
std::string parentProblem(const std::string& path) {
    const std::string folder = directoryOf(path);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return "The folder " + quoted(folder) + " does not exist";
    }
    if (!S_ISDIR(info.st_mode)) {
        return quoted(folder) + " is not a folder";
    }
    if (sample::onKernelFileSystem(folder)) {
        return quoted(folder) + " is a kernel folder (/proc, /sys, /dev), not a place for files";
    }
    return {};
}

} // namespace

std::string targetProblem(const std::string& path, const std::string& extension) {
    const std::string name = baseOf(path);
    if (name.empty() || name == "." || name == "..") {
        return quoted(path) + " names no file";
    }
    if (!printable(path)) {
        return "The name " + quoted(path) + " holds control characters";
    }
    if (name.size() <= extension.size() || lower(name.substr(name.size() - extension.size())) != extension) {
        return "The name " + quoted(path) + " must end in " + extension;
    }
    if (const std::string problem = parentProblem(path); !problem.empty()) {
        return problem;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return quoted(path) + (S_ISDIR(info.st_mode) ? " is a folder" : " is not a regular file");
    }
    return {};
}

std::string folderProblem(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const std::string name = baseOf(trimmed);
    if (trimmed.empty() || name.empty() || name == "." || name == "..") {
        return quoted(path) + " names no folder";
    }
    if (!printable(path)) {
        return "The name " + quoted(path) + " holds control characters";
    }
    struct stat info {};
    if (::stat(trimmed.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? std::string() : quoted(path) + " exists and is not a folder";
    }
    return parentProblem(trimmed);
}

std::string writeFileAtomically(const std::string& path, const std::string& bytes) {
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        return quoted(path) + " is not a regular file";
    }
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        return quoted(path) + " cannot be written: " + std::strerror(errno);
    }
    std::string temp;
    const int fd = openBeside(path, exists ? existing.st_mode : mode_t(0), temp);
    if (fd < 0) {
        return "Cannot create a file beside " + quoted(path) + ": " + std::strerror(errno);
    }
    std::string error;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::string("Cannot write ") + quoted(path) + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            break;
        }
        done += size_t(n);
    }
    if (error.empty() && ::fsync(fd) != 0 && errno != EINVAL) {
        error = "Cannot write " + quoted(path) + ": " + std::strerror(errno);
    }
    if (::close(fd) != 0 && error.empty()) {
        error = "Cannot write " + quoted(path) + ": " + std::strerror(errno);
    }
    if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "Cannot replace " + quoted(path) + ": " + std::strerror(errno);
    }
    if (!error.empty()) {
        ::unlink(temp.c_str());
    }
    return error;
}

} // namespace cleavix::slicing::instrument
