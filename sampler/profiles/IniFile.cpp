#include "sampler/profiles/IniFile.h"

#include "sample/SafeFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace cleavix::sampler::profiles {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHex = "0123456789ABCDEF";
constexpr const char* kByteArrayPrefix = "@ByteArray(";

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// Code points of UTF-8 text; a byte that starts no valid sequence stands for itself.
std::vector<uint32_t> codePoints(const std::string& text) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (c >= 0x80 && c < 0xC0) {
            extra = -1;
        }
        uint32_t cp = extra > 0 ? c & (0x3F >> extra) : c;
        bool valid = extra >= 0 && i + size_t(std::max(extra, 0)) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(text[i + size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (!valid || extra < 0) {
            out.push_back(c);
            ++i;
        } else {
            out.push_back(cp);
            i += size_t(extra) + 1;
        }
    }
    return out;
}

// "\x" and the byte in lower-case hex without leading zeros, as the settings object writes it.
std::string hexEscape(uint8_t ch) {
    std::ostringstream hex;
    hex << "\\x" << std::hex << unsigned(ch);
    return hex.str();
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The lock the settings object takes while it writes: a file holding "pid\napp\nhost\n", created
// exclusively; one whose process is gone is stale.
class LockFile {
public:
    explicit LockFile(fs::path path) : path_(std::move(path)) {}
    ~LockFile() {
        if (held_) {
            ::unlink(path_.c_str());
        }
    }
    bool acquire(std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (true) {
            const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                char host[256] = {};
                ::gethostname(host, sizeof host - 1);
                const std::string text = std::to_string(::getpid()) + "\ncleavix\n" + host + "\n";
                // The text only helps others judge staleness; the lock is the file's existence.
                [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
                ::close(fd);
                held_ = true;
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
            if (stale()) {
                ::unlink(path_.c_str());
                continue;
            }
            if (std::chrono::steady_clock::now() >= until) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

private:
    bool stale() const {
        std::ifstream in(path_);
        long long pid = 0;
        if (!(in >> pid) || pid <= 0) {
            // Being written this instant, or garbage: stale only when old.
            std::error_code error;
            const auto age = fs::file_time_type::clock::now() - fs::last_write_time(path_, error);
            return !error && age > std::chrono::seconds(30);
        }
        return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    }
    fs::path path_;
    bool held_ = false;
};

} // namespace

std::string IniFile::escapeKey(const std::string& utf8) {
    std::string out;
    for (uint32_t ch : codePoints(utf8)) {
        if (ch == '/') {
            out += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                   ch == '-' || ch == '.') {
            out += char(ch);
        } else if (ch <= 0xFF) {
            out += '%';
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        } else {
            // UTF-16 code units, as the settings object counts them.
            std::vector<uint32_t> units;
            if (ch >= 0x10000) {
                units = {0xD800 + ((ch - 0x10000) >> 10), 0xDC00 + ((ch - 0x10000) & 0x3FF)};
            } else {
                units = {ch};
            }
            for (uint32_t unit : units) {
                out += "%U";
                for (int shift = 12; shift >= 0; shift -= 4) {
                    out += kHex[(unit >> shift) & 15];
                }
            }
        }
    }
    return out;
}

std::string IniFile::unescapeKey(const std::string& text) {
    std::string out;
    uint32_t highSurrogate = 0;
    auto emit = [&](uint32_t unit) {
        if (unit >= 0xD800 && unit < 0xDC00) {
            highSurrogate = unit;
            return;
        }
        if (unit >= 0xDC00 && unit < 0xE000 && highSurrogate) {
            appendUtf8(out, 0x10000 + ((highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
        } else {
            appendUtf8(out, unit);
        }
        highSurrogate = 0;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            emit('/');
        } else if (c == '%' && i + 5 < text.size() && text[i + 1] == 'U' && isHex(text[i + 2]) && isHex(text[i + 3]) &&
                   isHex(text[i + 4]) && isHex(text[i + 5])) {
            emit(uint32_t(hexValue(text[i + 2]) << 12 | hexValue(text[i + 3]) << 8 | hexValue(text[i + 4]) << 4 |
                          hexValue(text[i + 5])));
            i += 5;
        } else if (c == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            emit(uint32_t(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2])));
            i += 2;
        } else {
            // Literal bytes are UTF-8 as they stand.
            out.push_back(c);
            highSurrogate = 0;
        }
    }
    return out;
}

std::string IniFile::escapeBytesValue(const std::vector<uint8_t>& value) {
    std::string body = kByteArrayPrefix;
    body.append(value.begin(), value.end());
    body += ')';
    std::string out;
    bool quote = false;
    bool escapeNextIfHexDigit = false;
    for (const char c : body) {
        const auto ch = static_cast<uint8_t>(c);
        if (ch == ';' || ch == ',' || ch == '=') {
            quote = true;
        }
        // A hex escape reads every hex digit after it, so a digit right after one is escaped too.
        if (escapeNextIfHexDigit && isHex(c)) {
            out += hexEscape(ch);
            continue;
        }
        escapeNextIfHexDigit = false;
        switch (ch) {
        case 0:
            out += "\\0";
            escapeNextIfHexDigit = true;
            break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\':
            out += '\\';
            out += c;
            break;
        default:
            if (ch <= 0x1F || ch >= 0x7F) {
                out += hexEscape(ch);
                escapeNextIfHexDigit = true;
            } else {
                out += c;
            }
        }
    }
    if (quote || out.front() == ' ' || out.back() == ' ') {
        out = '"' + out + '"';
    }
    return out;
}

std::vector<std::string> IniFile::unescapeValue(const std::string& text, bool* latin1Only) {
    std::vector<std::string> parts(1);
    bool onlyLatin1 = true;
    bool quoted = false;
    bool sawQuote = false;
    const auto points = codePoints(text);
    size_t i = 0;
    auto put = [&](uint32_t cp) {
        if (cp > 0xFF) {
            onlyLatin1 = false;
            appendUtf8(parts.back(), cp);
        } else {
            parts.back().push_back(char(cp));
        }
    };
    // Leading blanks are not part of an unquoted value; trailing ones are trimmed below.
    while (i < points.size() && (points[i] == ' ' || points[i] == '\t')) {
        ++i;
    }
    for (; i < points.size(); ++i) {
        const uint32_t ch = points[i];
        if (ch == '"') {
            quoted = !quoted;
            sawQuote = true;
            continue;
        }
        if (ch == ',' && !quoted) {
            if (!sawQuote) {
                parts.back() = trim(parts.back());
            }
            parts.emplace_back();
            sawQuote = false;
            while (i + 1 < points.size() && (points[i + 1] == ' ' || points[i + 1] == '\t')) {
                ++i;
            }
            continue;
        }
        if (ch != '\\' || i + 1 >= points.size()) {
            put(ch);
            continue;
        }
        const uint32_t e = points[++i];
        switch (e) {
        case 'a': put('\a'); break;
        case 'b': put('\b'); break;
        case 'f': put('\f'); break;
        case 'n': put('\n'); break;
        case 'r': put('\r'); break;
        case 't': put('\t'); break;
        case 'v': put('\v'); break;
        case 'x': {
            uint32_t value = 0;
            size_t digits = 0;
            while (i + 1 < points.size() && points[i + 1] < 0x80 && isHex(char(points[i + 1]))) {
                value = (value << 4) | uint32_t(hexValue(char(points[++i])));
                ++digits;
            }
            if (digits > 0) {
                put(value & 0xFFFF);
            }
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                uint32_t value = e - '0';
                while (i + 1 < points.size() && points[i + 1] >= '0' && points[i + 1] <= '7') {
                    value = (value << 3) | (points[++i] - '0');
                }
                put(value & 0xFFFF);
            } else {
                put(e); // \" \' \\ \? and anything else stand for themselves
            }
        }
    }
    if (!sawQuote) {
        parts.back() = trim(parts.back());
    }
    if (latin1Only) {
        *latin1Only = onlyLatin1;
    }
    return parts;
}

std::optional<IniFile> IniFile::load(const fs::path& path, std::string* error) {
    IniFile file;
    std::error_code exists;
    if (!fs::exists(path, exists)) {
        return file;
    }
    // A folder would read as an empty file and a FIFO would wait for a writer: neither is opened.
    std::error_code kind;
    if (!fs::is_regular_file(path, kind)) {
        if (error) {
            *error = "cannot read " + path.string() + ": not a regular file";
        }
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) {
            *error = "cannot read " + path.string() + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    file.sections_.push_back(Section{}); // lines before the first header belong to [General]
    std::string raw;
    while (std::getline(in, raw)) {
        Line line;
        line.raw = raw;
        const std::string stripped = trim(raw);
        if (!stripped.empty() && stripped.front() == '[' && stripped.back() == ']') {
            Section section;
            section.name = unescapeKey(stripped.substr(1, stripped.size() - 2));
            if (section.name == "General") {
                section.name.clear();
            } else if (section.name == "%General") {
                section.name = "General";
            }
            line.header = true;
            section.lines.push_back(line);
            file.sections_.push_back(std::move(section));
            continue;
        }
        const auto equals = raw.find('=');
        if (!stripped.empty() && stripped.front() != ';' && stripped.front() != '#' && equals != std::string::npos) {
            const std::string key = unescapeKey(trim(raw.substr(0, equals)));
            const std::string& section = file.sections_.back().name;
            line.key = section.empty() ? key : section + "/" + key;
            line.value = raw.substr(equals + 1);
        }
        file.sections_.back().lines.push_back(std::move(line));
    }
    return file;
}

const IniFile::Line* IniFile::find(const std::string& key) const {
    // The last line of a key wins, as when the settings object reads the file.
    const Line* found = nullptr;
    for (const auto& section : sections_) {
        for (const auto& line : section.lines) {
            if (!line.removed && !line.key.empty() && line.key == key) {
                found = &line;
            }
        }
    }
    return found;
}

std::vector<std::string> IniFile::childKeys(const std::string& group) const {
    const std::string prefix = group.empty() ? std::string() : group + "/";
    std::set<std::string> keys;
    for (const auto& section : sections_) {
        for (const auto& line : section.lines) {
            if (line.removed || line.key.size() <= prefix.size() || line.key.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            const std::string rest = line.key.substr(prefix.size());
            if (rest.find('/') == std::string::npos) {
                keys.insert(rest);
            }
        }
    }
    return {keys.begin(), keys.end()};
}

bool IniFile::contains(const std::string& key) const {
    return find(key) != nullptr;
}

std::optional<std::vector<uint8_t>> IniFile::bytes(const std::string& key) const {
    const Line* line = find(key);
    if (!line) {
        return std::nullopt;
    }
    bool latin1 = true;
    const auto parts = unescapeValue(line->value, &latin1);
    const std::string prefix = kByteArrayPrefix;
    if (parts.size() != 1 || !latin1 || parts[0].size() < prefix.size() + 1 || parts[0].compare(0, prefix.size(), prefix) != 0 ||
        parts[0].back() != ')') {
        return std::nullopt;
    }
    return std::vector<uint8_t>(parts[0].begin() + long(prefix.size()), parts[0].end() - 1);
}

std::optional<std::string> IniFile::text(const std::string& key) const {
    const Line* line = find(key);
    if (!line) {
        return std::nullopt;
    }
    const auto parts = unescapeValue(line->value);
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        joined += (i ? ", " : "") + parts[i];
    }
    return joined;
}

IniFile::Section& IniFile::sectionFor(const std::string& name) {
    for (auto& section : sections_) {
        if (section.name == name) {
            return section;
        }
    }
    Section section;
    section.name = name;
    section.created = true;
    Line header;
    header.header = true;
    header.raw = "[" + (name.empty() ? std::string("General") : name == "General" ? "%General" : escapeKey(name)) + "]";
    section.lines.push_back(header);
    sections_.push_back(std::move(section));
    return sections_.back();
}

void IniFile::remove(const std::string& key) {
    for (auto& section : sections_) {
        for (auto& line : section.lines) {
            if (line.key == key) {
                line.removed = true;
            }
        }
    }
}

void IniFile::setBytes(const std::string& key, const std::vector<uint8_t>& value) {
    remove(key);
    const auto slash = key.find('/');
    const std::string sectionName = slash == std::string::npos ? std::string() : key.substr(0, slash);
    const std::string rest = slash == std::string::npos ? key : key.substr(slash + 1);
    Section& section = sectionFor(sectionName);
    Line line;
    line.key = key;
    line.value = escapeBytesValue(value);
    line.raw = escapeKey(rest) + "=" + line.value;
    // After the section's last key, before the blank lines that end it.
    auto at = section.lines.end();
    while (at != section.lines.begin() && trim((at - 1)->raw).empty() && !(at - 1)->header) {
        --at;
    }
    section.lines.insert(at, std::move(line));
}

std::string IniFile::render() const {
    std::string out;
    for (const auto& section : sections_) {
        size_t live = 0, removed = 0;
        for (const auto& line : section.lines) {
            if (!line.key.empty()) {
                (line.removed ? removed : live) += 1;
            }
        }
        if (live == 0 && removed > 0) {
            continue; // every key of it was removed: the section goes with them
        }
        if (section.created && !out.empty() && out.substr(out.size() - std::min<size_t>(2, out.size())) != "\n\n") {
            out += '\n';
        }
        for (const auto& line : section.lines) {
            if (!line.removed) {
                out += line.raw + '\n';
            }
        }
    }
    return out;
}

bool IniFile::save(const fs::path& given, std::string* error, std::chrono::milliseconds lockWait) const {
    // Through a symbolic link the file it points to is replaced, not the link (as the settings
    // object does): a configuration kept elsewhere and linked in stays where it is.
    fs::path path;
    try {
        path = sample::saveTarget(given.string());
    } catch (const sample::FileError& e) {
        if (error) {
            *error = e.what();
        }
        return false;
    }
    auto fail = [&](const std::string& what) {
        if (error) {
            *error = what + " " + path.string() + ": " + std::strerror(errno);
        }
        return false;
    };
    std::error_code made;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), made);
    }
    // The lock beside the name given, where the settings object takes it.
    LockFile lock(given.string() + ".lock");
    if (!lock.acquire(lockWait)) {
        return fail("cannot lock");
    }
    mode_t mode = 0644;
    struct stat info{};
    if (::stat(path.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    }
    const std::string temp = path.string() + ".cleavix-" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        return fail("cannot write");
    }
    const std::string text = render();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return fail("cannot write");
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(temp.c_str());
        return fail("cannot write");
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return fail("cannot replace");
    }
    return true;
}

} // namespace cleavix::sampler::profiles
