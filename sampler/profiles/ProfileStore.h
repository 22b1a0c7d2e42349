#pragma once
// Sampler profiles in the settings file: one binary value of 16 bytes per profile, named by the
// profile, in the samplers group of the same INI file the window keeps its settings in. Every call
// reads the file afresh, so the window and the command-line tool see each other's changes.
//
// Threads: none; main thread in practice.
#include "sampler/profiles/IniFile.h"
#include "sampler/profiles/ProfileRecord.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::sampler::profiles {

// $XDG_CONFIG_HOME/Cleavix/Cleavix.ini ($HOME/.config when XDG_CONFIG_HOME is unset or relative).
std::filesystem::path defaultSettingsPath();

// Why a name cannot name a profile (empty, a '/' or '\' that would split it into settings groups,
// the placeholder line, control characters), or nullopt when it can.
std::optional<std::string> invalidProfileName(const std::string& name);

class ProfileStore {
public:
    explicit ProfileStore(std::filesystem::path path = defaultSettingsPath());
    const std::filesystem::path& path() const { return path_; }

    // The stored names, sorted; empty when there are none (or the file cannot be read: `error`).
    std::vector<std::string> names(std::string* error = nullptr) const;
    // What a profile list shows: the names, or the single line "No Presets Stored".
    std::vector<std::string> listLines() const;
    ProfileRead read(const std::string& name) const;
    // Replaces a profile of the same name. False with `error` on a bad name, an invalid record or
    // a file that cannot be written.
    bool store(const std::string& name, const SamplerProfile& profile, std::string* error = nullptr) const;
    // False with `error` when there is no such profile or the file cannot be written.
    bool remove(const std::string& name, std::string* error = nullptr) const;

private:
    std::filesystem::path path_;
};

// List positions: the entry to select after storing `name` (its place in the sorted list), after
// deleting the entry at `deleted` (the one before it, the first when it was the first), and the
// last-used position when a dialog is shown (0 when it lies beyond the list).
int positionOf(const std::vector<std::string>& names, const std::string& name);
int positionAfterDelete(int deleted);
int lastUsedPosition(int pNo, int count);

} // namespace cleavix::sampler::profiles
