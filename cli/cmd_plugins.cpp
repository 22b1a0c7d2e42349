// plugins, plugin and edit-external: listing the effect plug-ins, running one over a file, and
// editing a file in an external program. Also the plug-in lines of `run` scripts.
#include "cli/PluginScript.h"
#include "plugins/ExternalEdit.h"
#include "plugins/PluginHost.h"

#include <cerrno>
#include <iostream>
#include <sys/wait.h>

namespace cleavix::cli {

namespace {

std::string menuOf(const std::vector<plugins::PluginMenu>& menus, int index) {
    for (const auto& m : menus) {
        for (int i : m.items) {
            if (i == index) {
                std::string title;
                for (char c : m.title) {
                    if (c != '&') {
                        title += c;
                    }
                }
                return title;
            }
        }
    }
    return {};
}

int runPlugins(Args& args) {
    refuseLeftovers(args);
    CliEnv env(defaultSettings());
    auto& b = env.session.plugins().bridge();
    const auto menus = plugins::pluginMenus(b);
    nlohmann::json list = nlohmann::json::array();
    for (const auto& p : b.plugins()) {
        nlohmann::json controls = nlohmann::json::array();
        for (const auto& c : p.controls) {
            controls.push_back({{"symbol", c.symbol},
                                {"name", c.name},
                                {"min", c.minimum},
                                {"max", c.maximum},
                                {"default", c.defaultValue}});
        }
        nlohmann::json presets = nlohmann::json::array();
        for (const auto& preset : b.presets(p.index)) {
            presets.push_back(preset.name);
        }
        list.push_back({{"index", p.index},
                        {"menu", menuOf(menus, p.index)},
                        {"name", p.name},
                        {"uri", p.uri},
                        {"audioIn", p.audioIn},
                        {"audioOut", p.audioOut},
                        {"controls", controls},
                        {"presets", presets}});
    }
    printJson(list);
    return 0;
}

// What a plug-in run is told: the plug-in, a preset, control values, the scope.
struct PluginOptions {
    std::string plugin;
    std::optional<std::string> preset;
    std::vector<std::pair<std::string, float>> settings;
    plugins::PluginScope scope = plugins::PluginScope::Loop;
};

void takePluginOptions(Args& args, PluginOptions& o) {
    o.preset = takeOption(args, "--preset");
    while (auto set = takeOption(args, "--set")) {
        const size_t eq = set->find('=');
        if (eq == std::string::npos || eq == 0) {
            throw UsageError("--set takes SYMBOL=VALUE");
        }
        o.settings.emplace_back(set->substr(0, eq), float(parseNumber(set->substr(eq + 1), "--set VALUE")));
    }
    if (const auto scope = takeOption(args, "--scope")) {
        if (*scope != "loop" && *scope != "all") {
            throw UsageError("--scope must be loop or all");
        }
        o.scope = *scope == "all" ? plugins::PluginScope::All : plugins::PluginScope::Loop;
    }
}

// Sets the plug-in up for the session's sample and runs it; the result, with error set when it
// could not run.
plugins::PluginResult applyPlugin(CliEnv& env, const PluginOptions& o) {
    plugins::PluginResult result;
    auto& host = env.session.plugins();
    auto& b = host.bridge();
    const int index = b.find(o.plugin);
    if (index < 0) {
        result.error = "no plug-in " + o.plugin;
        return result;
    }
    auto chain = host.open(index);
    if (!chain) {
        result.error = plugins::kMsgPluginSetup;
        return result;
    }
    if (o.preset) {
        const auto list = host.presetList(index);
        auto it = std::find_if(list.begin() + 1, list.end(), [&](const auto& p) { return p.name == *o.preset; });
        if (it == list.end() || !chain->applyPreset(*it)) {
            result.error = "no preset " + *o.preset;
            return result;
        }
    }
    for (const auto& [symbol, value] : o.settings) {
        if (!chain->setControl(symbol, value)) {
            result.error = "no control " + symbol;
            return result;
        }
    }
    bool finished = false;
    if (host.process(std::move(chain), o.scope, [&](const plugins::PluginResult& r) {
            result = r;
            finished = true;
        })) {
        env.waitIdle();
    }
    if (!finished && result.error.empty() && !result.cancelled) {
        result.error = "the run did not start";
    }
    return result;
}

int runPlugin(Args& args) {
    PluginOptions o;
    const auto plugin = takeOption(args, "--plugin");
    if (!plugin) {
        throw UsageError("plugin needs --plugin URI|INDEX");
    }
    o.plugin = *plugin;
    takePluginOptions(args, o);
    std::optional<std::pair<uint32_t, uint32_t>> loop;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--loop") {
            if (i + 2 >= args.size()) {
                throw UsageError("--loop takes L and R");
            }
            const long long l = parseInteger(args[i + 1], "L");
            const long long r = parseInteger(args[i + 2], "R");
            if (l < 0 || r < 0 || l > 0xFFFFFFFFLL || r > 0xFFFFFFFFLL) {
                throw UsageError("--loop positions must lie between 0 and 4294967295");
            }
            loop = {uint32_t(l), uint32_t(r)};
            args.erase(args.begin() + long(i), args.begin() + long(i) + 3);
            break;
        }
    }
    const auto channel = takeOption(args, "--channel");
    const std::string file = takePositional(args, "FILE");
    const std::string out = takePositional(args, "OUT");
    refuseLeftovers(args);
    int processChannel = 3;
    if (channel) {
        processChannel = *channel == "left" ? 1 : *channel == "right" ? 2 : *channel == "both" ? 3 : 0;
        if (processChannel == 0) {
            throw UsageError("--channel must be both, left or right");
        }
    }
    CliEnv env(defaultSettings());
    if (!env.load(file)) {
        return 1;
    }
    env.session.editor().setProcessChannel(uint8_t(processChannel));
    if (loop) {
        env.session.slicer().setLoop(loop->first, loop->second);
    }
    const auto result = applyPlugin(env, o);
    bool saved = false;
    if (result.ok) {
        env.prompter.answer = jobs::Answer::No;
        bool finished = false;
        env.session.saveTo(out, env.session.format().saveBits, [&](bool ok) {
            saved = ok;
            finished = true;
        });
        env.waitIdle();
        saved = saved && finished;
    }
    printJson({{"dataLength", env.session.format().dataLength},
               {"latency", result.latency},
               {"error", result.ok && !saved ? std::string("the result could not be saved") : result.error}});
    return result.ok && saved ? 0 : 1;
}

int runEditExternal(Args& args) {
    const auto editor = takeOption(args, "--editor");
    const std::string file = takePositional(args, "FILE");
    const std::string out = takePositional(args, "OUT");
    refuseLeftovers(args);
    if (!editor) {
        throw UsageError("edit-external needs --editor CMD");
    }
    CliEnv env(defaultSettings());
    if (!env.load(file)) {
        return 1;
    }
    plugins::ExternalEdit edit(env.session.workingDirectory());
    bool started = false;
    if (edit.begin(env.session.jobs(), env.session.store(), *editor, [&](bool ok) { started = ok; })) {
        env.waitIdle();
    }
    if (!started) {
        printJson({{"changed", false}, {"dataLength", env.session.format().dataLength}, {"error", "not started"}});
        return 1;
    }
    // Without a window there is no activation to wait for: the editor's exit stands for it.
    int status = 0;
    while (::waitpid(edit.editorPid(), &status, 0) < 0 && errno == EINTR) {
    }
    const bool changed = edit.takeChange();
    // An editor that failed may have left the copy half written: it is not read back.
    const bool editorFailed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    if (editorFailed) {
        const std::string why = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                                  : "was ended by signal " + std::to_string(WTERMSIG(status));
        std::cerr << "cleavix-cli: the editor " << why << "; the sample is left as it was\n";
        printJson({{"changed", changed},
                   {"dataLength", env.session.format().dataLength},
                   {"editorStatus", WIFEXITED(status) ? WEXITSTATUS(status) : -1},
                   {"error", "the editor " + why}});
        return 1;
    }
    bool ok = true;
    if (changed) {
        ok = env.load(edit.copyPath());
    }
    bool saved = false;
    if (ok) {
        env.prompter.answer = jobs::Answer::No;
        env.session.saveTo(out, env.session.format().saveBits, [&](bool s) { saved = s; });
        env.waitIdle();
    }
    printJson({{"changed", changed},
               {"dataLength", env.session.format().dataLength},
               {"editorStatus", WIFEXITED(status) ? WEXITSTATUS(status) : -1},
               {"error", ok && saved ? "" : "the edited copy could not be read or saved"}});
    return ok && saved ? 0 : 1;
}

const CommandRegistration pluginsCommand(
    {"plugins", "plugins",
     "Lists the effect plug-ins the LV2 host library (lilv) offers, as the plug-in menus show them: JSON [{index, "
     "menu, name, uri, audioIn, audioOut, controls: [{symbol, name, min, max, default}], presets: [names]}]. LV2_PATH "
     "chooses where to look; stored presets live under $XDG_DATA_HOME/Cleavix/Presets. An empty list without lilv.",
     runPlugins});

const CommandRegistration pluginCommand(
    {"plugin",
     "plugin FILE OUT --plugin URI|INDEX [--preset NAME] [--set SYMBOL=VALUE]... [--scope loop|all] [--loop L R] "
     "[--channel both|left|right]",
     "Runs FILE's loop (default: the whole sample, as a load sets the loop) or the whole sample through an effect "
     "plug-in at the sample's rate and saves the result to OUT. The plug-in's latency is compensated, so the range "
     "keeps its length; a plug-in that changes the channel count processes the whole sample. JSON {dataLength, "
     "latency, error}; exit status 1 on failure.",
     runPlugin});

const CommandRegistration editExternalCommand(
    {"edit-external", "edit-external FILE OUT --editor CMD",
     "Writes FILE as a wave copy (mode 0600, in a private folder of the working folder), starts CMD on it (split "
     "like a command line, no shell: \"flatpak run org.tenacityaudio.Tenacity\" works) and waits for it to end; "
     "when the copy changed it is reloaded. The sample is then saved to OUT. JSON {changed, dataLength, "
     "editorStatus, error}; exit status 1, and OUT not written, when the editor failed (a status other than 0) "
     "or the copy could not be read back.",
     runEditExternal});

} // namespace

bool runPluginScriptLine(CliEnv& env, const std::string& command, Args& args) {
    if (command == "smooth") {
        if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) {
            throw UsageError("usage: smooth on|off");
        }
        env.session.slicer().smooth = args[0] == "on";
        return true;
    }
    PluginOptions o;
    takePluginOptions(args, o);
    if (args.size() != 1) {
        throw UsageError("usage: plugin URI|INDEX [--preset P] [--set k=v]... [--scope loop|all]");
    }
    o.plugin = args[0];
    const auto result = applyPlugin(env, o);
    if (!result.error.empty()) {
        std::cerr << "cleavix-cli: plugin: " << result.error << "\n";
    }
    return result.ok;
}

} // namespace cleavix::cli
