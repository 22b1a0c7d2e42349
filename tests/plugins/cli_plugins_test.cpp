// The command-line tool's plug-in commands: plugins, plugin, the run script's plugin and smooth
// lines with undo after them, and edit-external with a script standing in for the editor.
#include "plugins/PluginTestKit.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sys/stat.h>

namespace cleavix::test {
namespace {

using nlohmann::json;

#ifdef CLEAVIX_TEST_LV2_PATH

struct CliBench {
    CliBench() {
        ::setenv("LV2_PATH", CLEAVIX_TEST_LV2_PATH, 1);
        ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
        ::setenv("CLEAVIX_TEMP", work.path().c_str(), 1);
    }
    std::string wave(const std::vector<int16_t>& samples, uint16_t channels) {
        WaveSpec spec;
        spec.channels = channels;
        const std::string path = dir.file("in" + std::to_string(++n) + ".wav");
        writeFile(path, makeWave(spec, le16Bytes(samples)));
        return path;
    }
    // The data chunk of a Wave file we wrote (44-byte header).
    std::vector<int16_t> samplesOf(const std::string& path) {
        const Bytes b = readFile(path);
        return le16Samples(Bytes(b.begin() + 44, b.end()));
    }
    TempDir dir;
    TempDir work;
    int n = 0;
};

TEST(CliPlugins, ListingAsTheMenusShowIt) {
    CliBench c;
    const auto r = runCli({"plugins"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json list = json::parse(r.out);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[1]["name"], "Test Gain");
    EXPECT_EQ(list[1]["uri"], "urn:cleavix-test:gain");
    EXPECT_EQ(list[1]["menu"], "LV2");
    EXPECT_EQ(list[1]["controls"][0]["symbol"], "gain");
    EXPECT_EQ(list[1]["controls"][0]["max"], 4.0);
    EXPECT_EQ(list[1]["presets"], json::array({"Double", "Quarter"}));
    EXPECT_EQ(list[4]["audioOut"], 2);
}

TEST(CliPlugins, PluginOverAFileWithAPresetAndAControl) {
    CliBench c;
    const auto data = testSignal(4000, 2);
    const std::string in = c.wave(data, 1);
    const std::string out = c.dir.file("out.wav");
    auto r = runCli({"plugin", in, out, "--plugin", "urn:cleavix-test:gain", "--preset", "Double", "--scope", "all"});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["dataLength"], 8000);
    EXPECT_EQ(j["error"], "");
    auto got = c.samplesOf(out);
    ASSERT_EQ(got.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(got[i], expect16(data[i] * 2.0));
    }
    // By index, a control, and the loop only.
    r = runCli({"plugin", in, out, "--plugin", "1", "--set", "gain=0", "--loop", "200", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    got = c.samplesOf(out);
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(got[i], i >= 100 && i < 200 ? 0 : data[i]) << i;
    }
    // The latency is told and compensated.
    r = runCli({"plugin", in, out, "--plugin", "urn:cleavix-test:delay", "--scope", "all"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(json::parse(r.out)["latency"], 64);
    EXPECT_EQ(c.samplesOf(out), data);
    // Failures say so.
    r = runCli({"plugin", in, out, "--plugin", "urn:nothing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "no plug-in urn:nothing");
    r = runCli({"plugin", in, out, "--plugin", "1", "--set", "volume=2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out)["error"], "no control volume");
    r = runCli({"plugin", in, out, "--plugin", "1", "--scope", "some"});
    EXPECT_EQ(r.status, 64);
}

TEST(CliPlugins, ScriptPluginLineThenUndoRestoresTheBytes) {
    CliBench c;
    const auto data = testSignal(3000, 6);
    const std::string in = c.wave(data, 1);
    const std::string script = c.dir.file("s.txt");
    std::ofstream(script) << "open " << in << "\n"
                          << "smooth on\n"
                          << "plugin urn:cleavix-test:split --scope all\n"
                          << "dump-store " << c.dir.file("after.raw") << "\n"
                          << "dump-state\n"
                          << "undo\n"
                          << "dump-store " << c.dir.file("undone.raw") << "\n";
    const auto r = runCli({"run", script});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("This plugin will process the entire sample."), std::string::npos);
    const json state = json::parse(r.out);
    EXPECT_EQ(state["format"]["channels"], 2);
    EXPECT_EQ(state["undoCode"], 2);
    EXPECT_EQ(le16Samples(readFile(c.dir.file("after.raw"))).size(), data.size() * 2);
    EXPECT_EQ(readFile(c.dir.file("undone.raw")), le16Bytes(data));

    std::ofstream(script) << "smooth maybe\n";
    EXPECT_EQ(runCli({"run", script}).status, 64);
    std::ofstream(script) << "open " << in << "\nplugin urn:nothing\n";
    EXPECT_EQ(runCli({"run", script}).status, 1);
}

#endif

TEST(CliSmooth, SmoothMovesGridPointsTowardQuietSpots) {
    TempDir dir;
    ::setenv("CLEAVIX_TEMP", dir.path().c_str(), 1);
    const std::string demo = dir.file("demo.wav");
    ASSERT_EQ(runCli({"demo", demo}).status, 0);
    auto positions = [&](const std::string& smooth) {
        const std::string script = dir.file("s.txt");
        std::ofstream(script) << "open " << demo << "\nsmooth " << smooth << "\nbars 2\ngrid 16\ndump-points\n";
        const auto r = runCli({"run", script});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<uint32_t> out;
        const json dump = json::parse(r.out);
        for (const auto& p : dump["candidates"]) {
            out.push_back(p["position"]);
        }
        return out;
    };
    const auto off = positions("off");
    const auto on = positions("on");
    ASSERT_EQ(on.size(), off.size());
    ASSERT_GT(off.size(), 8u);
    EXPECT_NE(on, off) << "with Smooth the grid's points are adjusted by the slice search";
}

TEST(CliEditExternal, AScriptEditorReversesTheCopyAndItIsReloaded) {
    if (soxPath().empty()) {
        GTEST_SKIP() << "sox is not installed";
    }
    TempDir dir;
    TempDir work;
    ::setenv("CLEAVIX_TEMP", work.path().c_str(), 1);
    const auto data = testSignal(2000, 4);
    WaveSpec spec;
    spec.channels = 1;
    const std::string in = dir.file("in.wav");
    writeFile(in, makeWave(spec, le16Bytes(data)));
    // The editor: checks the copy is private, then reverses it in place.
    const std::string editor = dir.file("my editor.sh");
    std::ofstream(editor) << "#!/bin/sh\n"
                          << "[ \"$(stat -c %a \"$1\")\" = 600 ] || exit 3\n"
                          << "[ \"$(stat -c %a \"$(dirname \"$1\")\")\" = 700 ] || exit 4\n"
                          << "[ \"$2\" = \"\" ] || exit 5\n"
                          << soxPath() << " \"$1\" \"$1.tmp.wav\" reverse && mv \"$1.tmp.wav\" \"$1\"\n";
    ::chmod(editor.c_str(), 0700);
    const std::string out = dir.file("out.wav");
    // Quoted, with a blank in the name: split like a command line, no shell.
    auto r = runCli({"edit-external", in, out, "--editor", "'" + editor + "'"});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    json j = json::parse(r.out);
    EXPECT_EQ(j["changed"], true);
    EXPECT_EQ(j["editorStatus"], 0);
    const Bytes b = readFile(out);
    auto got = le16Samples(Bytes(b.begin() + 44, b.end()));
    EXPECT_EQ(got, std::vector<int16_t>(data.rbegin(), data.rend()));
    EXPECT_TRUE(work.entries().empty()) << "the private folder goes at exit";

    // An editor that changes nothing: no reload, the sample saved as it was.
    r = runCli({"edit-external", in, out, "--editor", "true"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["changed"], false);
    // None configured, or one that cannot be started.
    r = runCli({"edit-external", in, out, "--editor", ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No wave editor specified!"), std::string::npos);
    r = runCli({"edit-external", in, out, "--editor", dir.file("missing-editor")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error opening sample editor"), std::string::npos);
}

} // namespace
} // namespace cleavix::test
