#pragma once
// cleavix-cli: the engine without a window. Each command lives in a cmd_*.cpp file of its own and
// registers itself with a static CommandRegistration; main() dispatches on the first argument.
//
// A command gets a CliEnv: a main-thread loop, a prompter that answers from the command's options
// (and prints the message boxes it is asked to show on standard error), and a Session. JSON goes
// to standard output through printJson(); messages go to standard error.
#include "jobs/MainLoop.h"
#include "jobs/Prompter.h"
#include "session/Session.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cleavix::cli {

using Args = std::vector<std::string>;

// Answers questions without a person: each message box is printed to standard error and answered
// with `defaultAnswer` for its buttons (Yes for Yes/No questions unless told otherwise), and the
// save dialog returns saveTarget when one is set.
class CliPrompter final : public jobs::Prompter {
public:
    jobs::Answer ask(jobs::MessageKind kind, const std::string& text, const std::string& caption,
                     jobs::Buttons buttons) override;
    std::optional<jobs::SaveTarget> chooseSaveTarget(const std::string& suggestedName, uint8_t saveBits) override;

    // Answer for the next questions, by button set; unset means the dialog's default.
    std::optional<jobs::Answer> answer;
    std::optional<jobs::SaveTarget> saveTarget;
    bool quiet = false;
    // Every message shown, in order (for the exit status and for tests).
    std::vector<std::string> shown;
};

struct CliEnv {
    explicit CliEnv(session::Settings settings = {});
    jobs::MainLoop loop;
    CliPrompter prompter;
    session::Session session;

    // Runs the main loop until the session has no job running.
    void waitIdle();
    // Opens and loads a file with File Open's checks and messages; false (message on standard
    // error) when it was refused or failed.
    bool load(const std::string& fileName);
};

// The settings for a command: defaults, with TempPath from $CLEAVIX_TEMP when set. Scanning on
// load is off for the command-line tool; commands that search ask for it.
session::Settings defaultSettings();

void printJson(const nlohmann::json& value);

// Small argument helpers. takeOption removes "--name VALUE" from args and returns VALUE;
// takeFlag removes "--name" and returns whether it was there. Throws UsageError on a missing value.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
std::optional<std::string> takeOption(Args& args, const std::string& name);
bool takeFlag(Args& args, const std::string& name);
long long parseInteger(const std::string& text, const std::string& what);
// Removes and returns the first argument that is not an option; UsageError("missing WHAT") if none.
std::string takePositional(Args& args, const std::string& what);
// UsageError for the first argument left over once a command has taken what it knows.
void refuseLeftovers(const Args& args);
// A finite number ("nan" and "inf" are no number of anything here). Throws UsageError.
double parseNumber(const std::string& text, const std::string& what);

struct Command {
    std::string name;
    std::string usage;   // "info FILE"
    std::string summary; // one paragraph for --help
    std::function<int(Args&)> run;
};

std::map<std::string, Command>& commands();

struct CommandRegistration {
    explicit CommandRegistration(Command command);
};

// Posts an empty call to the loop every 100 ms from a thread of its own, so a loop waiting on a
// device that stays silent still gets to look at its deadline (and a meter gets read).
class Ticker {
public:
    explicit Ticker(jobs::Dispatcher& dispatcher);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A wave device by number or name (see `devices`); -1, the default device, without one. Throws
// UsageError for a name or number that names none.
int resolveDevice(audio::WaveDeviceProvider& provider, const std::optional<std::string>& name);

// Closes a file written through a stream and tells whether every byte reached it (a buffered
// write can fail only at the close). On failure a regular file at path is removed, so no partly
// written output is left; anything else there (a device) is left alone.
bool finishOutput(std::ofstream& out, const std::string& path);

// --rate and --channels of a recording: 4000..192000 Hz, 1 or 2 channels. Throws UsageError.
void checkRecordFormat(long long rate, long long channels);
// The bytes `seconds` of such a recording hold; UsageError unless they are above 0 and fit a Wave
// file (a longer take could not be kept).
uint64_t recordBytesFor(double seconds, long long rate, long long channels, const std::string& what);

} // namespace cleavix::cli
