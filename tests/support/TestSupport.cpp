#include "support/TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cleavix::test {

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/cleavix-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = name.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only files left by tests must not stop the cleanup.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void putLe16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void putLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(uint8_t(v >> (8 * i)));
    }
}
void putBe16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void putBe32(Bytes& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) {
        b.push_back(uint8_t(v >> (8 * i)));
    }
}
void putId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }
uint32_t getLe32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t getLe16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t getBe32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | uint32_t(b[at + 3]);
}
uint16_t getBe16(const Bytes& b, size_t at) { return uint16_t(b[at] << 8 | b[at + 1]); }

std::vector<uint8_t> extendedBytes(long double value) {
    static_assert(sizeof(long double) >= 10, "needs x87 extended precision");
    uint8_t little[sizeof(long double)] = {};
    std::memcpy(little, &value, sizeof value);
    std::vector<uint8_t> big(10);
    for (int i = 0; i < 10; ++i) {
        big[i] = little[9 - i];
    }
    return big;
}

Bytes makeWave(const WaveSpec& spec, const Bytes& data) {
    Bytes fmt;
    putId(fmt, "fmt ");
    putLe32(fmt, 16);
    putLe16(fmt, spec.formatTag);
    putLe16(fmt, spec.channels);
    putLe32(fmt, spec.sampleRate);
    putLe32(fmt, spec.sampleRate * spec.channels * (spec.bits / 8));
    putLe16(fmt, spec.channels * (spec.bits / 8));
    putLe16(fmt, spec.bits);
    Bytes body;
    putId(body, "data");
    putLe32(body, spec.declaredLength >= 0 ? uint32_t(spec.declaredLength) : uint32_t(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    if (data.size() % 2 != 0 && spec.declaredLength < 0) {
        body.push_back(0);
    }
    Bytes extra;
    if (spec.extraChunk) {
        putId(extra, "LIST");
        putLe32(extra, 5);
        putId(extra, "INFO");
        extra.push_back('x');
        extra.push_back(0); // pad
    }
    Bytes file;
    putId(file, "RIFF");
    putLe32(file, uint32_t(4 + fmt.size() + body.size() + extra.size()));
    putId(file, "WAVE");
    if (spec.dataFirst) {
        file.insert(file.end(), extra.begin(), extra.end());
        file.insert(file.end(), body.begin(), body.end());
        file.insert(file.end(), fmt.begin(), fmt.end());
    } else {
        file.insert(file.end(), fmt.begin(), fmt.end());
        file.insert(file.end(), extra.begin(), extra.end());
        file.insert(file.end(), body.begin(), body.end());
    }
    return file;
}

Bytes makeAiff(const AiffSpec& spec, const Bytes& data) {
    Bytes comm;
    putId(comm, "COMM");
    putLe32(comm, 0); // patched below
    const uint32_t frameBytes = spec.channels * (spec.bits / 8);
    putBe16(comm, spec.channels);
    putBe32(comm, frameBytes ? uint32_t(data.size() / frameBytes) : 0);
    putBe16(comm, spec.bits);
    const auto rate = extendedBytes(spec.sampleRate);
    comm.insert(comm.end(), rate.begin(), rate.end());
    if (spec.aifc) {
        putId(comm, spec.compression);
        comm.push_back(0);
        comm.push_back(0);
    }
    const uint32_t commSize = uint32_t(comm.size() - 8);
    comm[4] = uint8_t(commSize >> 24);
    comm[5] = uint8_t(commSize >> 16);
    comm[6] = uint8_t(commSize >> 8);
    comm[7] = uint8_t(commSize);
    Bytes ssnd;
    putId(ssnd, "SSND");
    putBe32(ssnd, 8 + spec.ssndOffset + uint32_t(data.size()));
    putBe32(ssnd, spec.ssndOffset);
    putBe32(ssnd, 0);
    ssnd.insert(ssnd.end(), spec.ssndOffset, 0xEE); // padding that must not be read as sound
    ssnd.insert(ssnd.end(), data.begin(), data.end());
    if (ssnd.size() % 2 != 0) {
        ssnd.push_back(0);
    }
    Bytes file;
    putId(file, "FORM");
    putBe32(file, 0);
    putId(file, spec.aifc ? "AIFC" : "AIFF");
    if (spec.oddChunkFirst) {
        putId(file, "NAME");
        putBe32(file, 3);
        file.push_back('a');
        file.push_back('b');
        file.push_back('c');
        file.push_back(0); // pad
    }
    file.insert(file.end(), comm.begin(), comm.end());
    file.insert(file.end(), ssnd.begin(), ssnd.end());
    const uint32_t formSize = uint32_t(file.size() - 8);
    file[4] = uint8_t(formSize >> 24);
    file[5] = uint8_t(formSize >> 16);
    file[6] = uint8_t(formSize >> 8);
    file[7] = uint8_t(formSize);
    return file;
}

Bytes le16Bytes(const std::vector<int16_t>& samples) {
    Bytes b;
    for (int16_t s : samples) {
        putLe16(b, uint16_t(s));
    }
    return b;
}

std::vector<int16_t> le16Samples(const Bytes& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = int16_t(getLe16(bytes, i * 2));
    }
    return s;
}

Bytes be16Bytes(const std::vector<int16_t>& samples) {
    Bytes b;
    for (int16_t s : samples) {
        putBe16(b, uint16_t(s));
    }
    return b;
}

std::vector<int16_t> testSignal(size_t count, uint32_t seed) {
    std::vector<int16_t> s(count);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = int16_t(x >> 16);
    }
    if (count > 2) {
        s[0] = 32767; // the extremes, so byte order and sign mistakes show
        s[1] = -32768;
    }
    return s;
}

RunResult run(const std::vector<std::string>& argv) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    RunResult result;
    if (spawned != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        result.err = "cannot start " + argv[0];
        return result;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i == 0 ? result.out : result.err).append(buffer, size_t(n));
                }
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

RunResult runCli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{CLEAVIX_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

std::string soxPath() { return SOX_EXECUTABLE; }

jobs::Answer ScriptedPrompter::ask(jobs::MessageKind, const std::string& text, const std::string&,
                                   jobs::Buttons buttons) {
    asked.push_back(text);
    if (!answers.empty()) {
        const jobs::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    return buttons == jobs::Buttons::Ok || buttons == jobs::Buttons::OkCancel ? jobs::Answer::Ok : jobs::Answer::Yes;
}

std::optional<jobs::SaveTarget> ScriptedPrompter::chooseSaveTarget(const std::string& suggestedName, uint8_t) {
    suggested.push_back(suggestedName);
    if (targets.empty()) {
        return std::nullopt;
    }
    auto t = targets.front();
    targets.pop_front();
    return t;
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    oldSoft_ = old.rlim_cur;
    oldHard_ = old.rlim_max;
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit tight{rlim_t(bytes), old.rlim_max};
    if (::setrlimit(RLIMIT_FSIZE, &tight) != 0) {
        throw std::runtime_error("setrlimit failed");
    }
}

FileSizeLimit::~FileSizeLimit() {
    const rlimit old{rlim_t(oldSoft_), rlim_t(oldHard_)};
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler_);
}

int exitWithin(int seconds, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    for (int waited = 0; waited < seconds * 100; ++waited) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        }
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

} // namespace cleavix::test
