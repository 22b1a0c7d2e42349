#include "cli/Cli.h"

#include "session/RecordTake.h"

#include "sample/SampleFormat.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace cleavix::cli {

namespace {

std::string plainText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            continue;
        }
        out += text[i];
    }
    return out;
}

jobs::Answer firstButton(jobs::Buttons buttons) {
    switch (buttons) {
    case jobs::Buttons::Ok:
    case jobs::Buttons::OkCancel:
        return jobs::Answer::Ok;
    case jobs::Buttons::YesNo:
    case jobs::Buttons::YesCancel:
    case jobs::Buttons::YesNoCancel:
        return jobs::Answer::Yes;
    }
    return jobs::Answer::Ok;
}

bool fits(jobs::Answer answer, jobs::Buttons buttons) {
    switch (buttons) {
    case jobs::Buttons::Ok:
        return answer == jobs::Answer::Ok;
    case jobs::Buttons::OkCancel:
        return answer == jobs::Answer::Ok || answer == jobs::Answer::Cancel;
    case jobs::Buttons::YesNo:
        return answer == jobs::Answer::Yes || answer == jobs::Answer::No;
    case jobs::Buttons::YesCancel:
        return answer == jobs::Answer::Yes || answer == jobs::Answer::Cancel;
    case jobs::Buttons::YesNoCancel:
        return answer != jobs::Answer::Ok;
    }
    return false;
}

} // namespace

jobs::Answer CliPrompter::ask(jobs::MessageKind kind, const std::string& text, const std::string& caption,
                              jobs::Buttons buttons) {
    shown.push_back(text);
    if (!quiet) {
        const char* label = kind == jobs::MessageKind::Error     ? "error"
                            : kind == jobs::MessageKind::Warning ? "warning"
                                                                 : "message";
        std::cerr << "cleavix-cli: " << label << ": " << (caption.empty() ? "" : caption + ": ") << plainText(text)
                  << "\n";
    }
    // The dialog's default is its first button.
    if (answer && fits(*answer, buttons)) {
        return *answer;
    }
    return firstButton(buttons);
}

std::optional<jobs::SaveTarget> CliPrompter::chooseSaveTarget(const std::string& /*suggestedName*/,
                                                              uint8_t /*saveBits*/) {
    std::optional<jobs::SaveTarget> target = saveTarget;
    saveTarget.reset(); // a target answers one dialog, so a failing save cannot loop
    return target;
}

session::Settings defaultSettings() {
    session::Settings settings;
    if (const char* temp = std::getenv("CLEAVIX_TEMP")) {
        settings.tempPath = temp;
    }
    settings.scanOnLoad = false;
    settings.promptToSave = false;
    return settings;
}

CliEnv::CliEnv(session::Settings settings) : session(loop, prompter, std::move(settings)) {}

void CliEnv::waitIdle() {
    session.jobs().waitIdle([this] { loop.runOne(); });
}

bool CliEnv::load(const std::string& fileName) {
    bool finished = false;
    bool ok = false;
    if (!session.open(fileName, session::OpenOrigin::Menu, [&](bool loaded) {
            finished = true;
            ok = loaded;
        })) {
        return false;
    }
    loop.runUntil([&] { return finished; });
    waitIdle();
    if (!ok && !session.lastLoadError().empty()) {
        std::cerr << "cleavix-cli: " << session.lastLoadError() << "\n";
    }
    return ok;
}

void printJson(const nlohmann::json& value) { std::cout << value.dump(2) << std::endl; }

std::optional<std::string> takeOption(Args& args, const std::string& name) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            if (i + 1 >= args.size()) {
                throw UsageError(name + " needs a value");
            }
            std::string value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            return value;
        }
    }
    return std::nullopt;
}

bool takeFlag(Args& args, const std::string& name) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

std::string takePositional(Args& args, const std::string& what) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) != 0) {
            std::string value = args[i];
            args.erase(args.begin() + static_cast<long>(i));
            return value;
        }
    }
    throw UsageError("missing " + what);
}

void refuseLeftovers(const Args& args) {
    if (!args.empty()) {
        throw UsageError("unexpected argument '" + args.front() + "'");
    }
}

long long parseInteger(const std::string& text, const std::string& what) {
    try {
        size_t used = 0;
        const long long value = std::stoll(text, &used, 10);
        if (used == text.size()) {
            return value;
        }
    } catch (const std::exception&) {
    }
    throw UsageError(what + " must be a whole number, not '" + text + "'");
}

double parseNumber(const std::string& text, const std::string& what) {
    try {
        size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size() && std::isfinite(value)) {
            return value;
        }
    } catch (const std::exception&) {
    }
    throw UsageError(what + " must be a number, not '" + text + "'");
}

std::map<std::string, Command>& commands() {
    static std::map<std::string, Command> registry;
    return registry;
}

CommandRegistration::CommandRegistration(Command command) {
    const std::string name = command.name;
    commands().emplace(name, std::move(command));
}

Ticker::Ticker(jobs::Dispatcher& dispatcher)
    : thread_([this, &dispatcher] {
          while (!stop_) {
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              dispatcher.post([] {});
          }
      }) {}

Ticker::~Ticker() {
    stop_ = true;
    thread_.join();
}

int resolveDevice(audio::WaveDeviceProvider& provider, const std::optional<std::string>& name) {
    if (!name) {
        return -1;
    }
    const auto id = provider.resolve(*name);
    if (!id) {
        throw UsageError("no device numbered " + *name + " (see cleavix-cli devices)");
    }
    return *id;
}

void checkRecordFormat(long long rate, long long channels) {
    if (rate < session::kMinRecordRate || rate > session::kMaxRecordRate || (channels != 1 && channels != 2)) {
        throw UsageError("--rate must be " + std::to_string(session::kMinRecordRate) + " to " +
                         std::to_string(session::kMaxRecordRate) + " and --channels 1 or 2");
    }
}

bool finishOutput(std::ofstream& out, const std::string& path) {
    out.close();
    if (out) {
        return true;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::unlink(path.c_str());
    }
    return false;
}

uint64_t recordBytesFor(double seconds, long long rate, long long channels, const std::string& what) {
    const uint64_t frameBytes = uint64_t(channels) * 2u;
    const uint64_t most = sample::kMaxDataLength - sample::kMaxDataLength % frameBytes;
    const double longest = double(most / frameBytes) / double(rate);
    if (!(seconds > 0) || seconds > longest) {
        throw UsageError(what + " must be above 0 and at most " + std::to_string(int64_t(longest)) +
                         " (the longest take a Wave file holds at this rate)");
    }
    return std::min(most, uint64_t(seconds * double(rate)) * frameBytes);
}

} // namespace cleavix::cli
