// cleavix-cli: Cleavix's engine without a window, for scripts, batch work and tests.
#include "cli/Cli.h"

#include <csignal>
#include <iostream>

namespace {

void printHelp() {
    std::cout << "Usage: cleavix-cli COMMAND [ARGUMENTS]\n"
                 "       cleavix-cli --help | --version\n\n"
                 "Cleavix's engine without a window. JSON results go to standard output, messages to\n"
                 "standard error. Working files go to $CLEAVIX_TEMP when it names a folder, else to\n"
                 "$TMPDIR or /tmp.\n\nCommands:\n";
    for (const auto& [name, command] : cleavix::cli::commands()) {
        std::cout << "\n  " << command.usage << "\n";
        std::string line;
        std::string text = command.summary;
        // Indent the summary under its usage line.
        std::cout << "      ";
        for (char c : text) {
            std::cout << c;
            if (c == '\n') {
                std::cout << "      ";
            }
        }
        std::cout << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    // A file-size limit makes write() fail with EFBIG, which every save reports, instead of
    // killing the process half way through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--commands") {
        // The registry itself, for scripts, the manual page and the test that checks the documentation.
        nlohmann::json list = nlohmann::json::array();
        for (const auto& [name, command] : cleavix::cli::commands()) {
            list.push_back({{"name", name}, {"usage", command.usage}, {"summary", command.summary}});
        }
        cleavix::cli::printJson(list);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "cleavix-cli " << CLEAVIX_VERSION << "\n";
        return 0;
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp();
        return args.empty() ? 64 : 0;
    }
    const auto found = cleavix::cli::commands().find(args[0]);
    if (found == cleavix::cli::commands().end()) {
        std::cerr << "cleavix-cli: unknown command '" << args[0] << "' (see cleavix-cli --help)\n";
        return 64;
    }
    args.erase(args.begin());
    try {
        return found->second.run(args);
    } catch (const cleavix::cli::UsageError& error) {
        std::cerr << "cleavix-cli: " << error.what() << "\nusage: cleavix-cli " << found->second.usage << "\n";
        return 64;
    } catch (const std::exception& error) {
        // A failure of the command (an unwritable working folder, a full disk): as documented, 1.
        std::cerr << "cleavix-cli: " << error.what() << "\n";
        return 1;
    }
}
