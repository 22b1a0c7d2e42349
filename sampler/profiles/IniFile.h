#pragma once
// A small reader and writer of the INI files the window's settings live in, for the engine and
// the command-line tool, which do without Qt. It reads keys as the window's settings object names
// them ("Group/Sub/Key": the section is the first part, the rest joins with '\' in the file, names
// percent-encoded), reads binary values ("@ByteArray(...)" with its escapes), and writes binary
// values the way that object reads them back. Lines it does not change are written back as they
// were.
//
// Saving takes the same lock file the settings object takes ("<file>.lock"), writes a new file
// beside the old one and renames it over, so a reader never sees half a file.
//
// Threads: none; one object per caller.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::profiles {

class IniFile {
public:
    // A missing file reads as empty. nullopt (with `error`) only when it exists and cannot be read.
    static std::optional<IniFile> load(const std::filesystem::path& path, std::string* error = nullptr);

    // The keys directly under `group` (no sub-groups), sorted.
    std::vector<std::string> childKeys(const std::string& group) const;
    bool contains(const std::string& key) const;
    // The bytes of a binary value; nullopt when the key is missing or its value is not exactly one
    // binary value (a string, a number, a list).
    std::optional<std::vector<uint8_t>> bytes(const std::string& key) const;
    // The value's text as stored (escapes undone), for values that are not binary.
    std::optional<std::string> text(const std::string& key) const;

    void setBytes(const std::string& key, const std::vector<uint8_t>& value);
    void remove(const std::string& key);

    // Waits up to `lockWait` for a lock another process holds.
    bool save(const std::filesystem::path& path, std::string* error = nullptr,
              std::chrono::milliseconds lockWait = std::chrono::seconds(5)) const;

    // The file's text as save() would write it.
    std::string render() const;

    // Exposed for tests: a key (one part of a path) as it appears in the file, and back.
    static std::string escapeKey(const std::string& utf8);
    static std::string unescapeKey(const std::string& text);
    static std::string escapeBytesValue(const std::vector<uint8_t>& value);
    // The value text read as strings (unquoted, escapes undone, split at unquoted commas); each
    // string holds code points up to 0xFF as single bytes, larger ones as UTF-8.
    static std::vector<std::string> unescapeValue(const std::string& text, bool* latin1Only = nullptr);

private:
    struct Line {
        std::string raw;   // as in the file
        std::string key;   // full key ("Section/Sub/Key"); empty for headers, comments, blanks
        std::string value; // value text as in the file
        bool header = false;
        bool removed = false;
    };
    struct Section {
        std::string name; // unescaped; "" for [General]
        std::vector<Line> lines;
        bool created = false; // not in the file as read
    };
    const Line* find(const std::string& key) const;
    Section& sectionFor(const std::string& name);

    std::vector<Section> sections_;
};

} // namespace cleavix::sampler::profiles
