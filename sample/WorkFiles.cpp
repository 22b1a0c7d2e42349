#include "sample/WorkFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cleavix::sample {

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

constexpr const char* kSuffix = ".tmp";

} // namespace

std::string workingDirectory(const std::string& tempPathSetting) {
    if (isDirectory(tempPathSetting)) {
        return tempPathSetting;
    }
    const char* env = std::getenv("TMPDIR");
    if (env != nullptr && isDirectory(env)) {
        return env;
    }
    return "/tmp";
}

std::unique_ptr<TFileAndMemoryStream> createWorkFile(const std::string& dir, const std::string& prefix) {
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '/') {
        pattern += '/';
    }
    pattern += prefix + "XXXXXX" + kSuffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkstemps creates the file exclusively with mode 0600.
    const int fd = ::mkostemps(name.data(), static_cast<int>(std::strlen(kSuffix)), O_CLOEXEC);
    if (fd < 0) {
        throw StreamError("Cannot create a working file in " + dir + ": " + std::strerror(errno));
    }
    // Held for as long as the file is open: it tells a later start-up that the file is in use.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(name.data());
        throw StreamError("Cannot lock working file " + std::string(name.data()) + ": " + std::strerror(error));
    }
    return std::make_unique<TFileAndMemoryStream>(fd, std::string(name.data()));
}

bool isWorkFileName(const std::string& name) {
    for (const char* prefix : {kScratchPrefix, kPluginPrefix, kStorePrefix}) {
        const std::string p = prefix;
        if (name.size() == p.size() + 6 + 4 && name.compare(0, p.size(), p) == 0 &&
            name.compare(name.size() - 4, 4, kSuffix) == 0) {
            return true;
        }
    }
    return false;
}

int cleanStaleWorkFiles(const std::string& dir, int minAgeSeconds) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return 0;
    }
    int removed = 0;
    const time_t now = ::time(nullptr);
    while (dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (!isWorkFileName(name)) {
            continue;
        }
        const std::string path = dir + "/" + name;
        // Only regular files of ours: a FIFO planted under one of our names would block the open,
        // and a link would lead elsewhere.
        struct stat named {};
        if (::lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_uid != ::getuid()) {
            continue;
        }
        // O_NONBLOCK and O_NOFOLLOW in case the name was swapped since the lstat.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat st {};
        const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
                          st.st_ino == named.st_ino && st.st_dev == named.st_dev;
        const bool oldEnough = ours && now - st.st_mtime >= minAgeSeconds;
        if (oldEnough && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: a leftover of a program that ended without cleaning up.
            if (::unlink(path.c_str()) == 0) {
                ++removed;
            }
        }
        ::close(fd);
    }
    ::closedir(d);
    return removed;
}

} // namespace cleavix::sample
