// The settings file end to end: `get all --json` from one simulated
// amplifier, `set --from` onto a second one, compared; another model is
// refused unless --force; unknown and read-only keys are reported only.
#include "tool_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace nxtka_cli::test {
namespace {

using nlohmann::json;

std::vector<std::string> at(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.end(), {"--device", sim.device()});
    return args;
}

TEST(SettingsFile, RestoredOntoASecondAmplifierAndCompared) {
    SimProcess source(kSim, {"--rate", "10"});
    SimProcess target(kSim, {"--rate", "10", "--serial", "ABCDEFGH"});
    const std::vector<std::vector<std::string>> changes = {
        {"set", "gain", "5"},         {"set", "rate", "200"},          {"set", "capacity", "250"},
        {"set", "mode-si", "on"},     {"set", "analog-filter", "10"},  {"set", "polarity", "unipolar"},
        {"set", "rated-output", "2"},
    };
    for (const auto& c : changes) ASSERT_EQ(tool(at(source, c)).status, 0) << c[1];
    const RunResult saved = tool(at(source, {"get", "all", "--json"}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    const json snapshot = json::parse(saved.out);
    EXPECT_EQ(snapshot["format"], "nxtka-settings 1");
    EXPECT_EQ(snapshot["identity"]["serial"], "12345678");
    EXPECT_EQ(snapshot["settings"]["gain"], "5");
    EXPECT_EQ(snapshot["settings"]["polarity"], "unipolar");
    EXPECT_EQ(snapshot["settings"]["capacity"], "250");

    // from standard input, with a key no amplifier has
    json withUnknown = snapshot;
    withUnknown["settings"]["bogus"] = "1";
    Scratch scratch;
    const RunResult restored = toolIn(scratch.path(""), at(target, {"set", "--from", "-"}), withUnknown.dump());
    EXPECT_EQ(restored.status, 0) << restored.out << restored.err;
    bool unknownSaid = false, readOnlySaid = false;
    for (const std::string& l : lines(restored.out)) {
        if (l.rfind("bogus ", 0) == 0) unknownSaid = l.find("unknown") != std::string::npos;
        if (l.rfind("firmware ", 0) == 0) readOnlySaid = l.find("read only") != std::string::npos;
    }
    EXPECT_TRUE(unknownSaid) << restored.out;
    EXPECT_TRUE(readOnlySaid) << restored.out;

    const RunResult after = tool(at(target, {"get", "all", "--json"}));
    ASSERT_EQ(after.status, 0) << after.err;
    json copied = json::parse(after.out);
    EXPECT_EQ(copied["settings"]["serial"], "ABCDEFGH");  // a factory setting stays the amplifier's own
    copied["settings"]["serial"] = snapshot["settings"]["serial"];
    EXPECT_EQ(copied["settings"], snapshot["settings"]);
}

TEST(SettingsFile, AnotherModelIsRefusedUnlessForced) {
    SimProcess source(kSim, {"--rate", "0"});
    SimProcess other(kSim, {"--rate", "0", "--device-type", "7"});
    Scratch scratch;
    const RunResult saved = tool(at(source, {"get", "all", "--json"}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    writeFile(scratch.path("amp.json"), saved.out);
    const RunResult refused = tool(at(other, {"set", "--from", scratch.path("amp.json")}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(complaint(refused).find("from an amplifier of model 1, this one is model 7 (--force writes it anyway)"),
              std::string::npos);
    const RunResult forced = tool(at(other, {"set", "--from", scratch.path("amp.json"), "--force", "--json"}));
    EXPECT_EQ(forced.status, 0) << forced.err;
    const json report = json::parse(forced.out);
    EXPECT_EQ(report["not_held"], 0);
    EXPECT_FALSE(report["settings"].empty());

    writeFile(scratch.path("other.json"), R"({"format": "something else", "settings": {}})");
    const RunResult wrong = tool(at(other, {"set", "--from", scratch.path("other.json")}));
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(complaint(wrong).find("not a settings file of this tool"), std::string::npos);
}

// The line speed goes last: after it the amplifier listens at another speed.
// The simulator's command log shows the order of the writes.
TEST(SettingsFile, TheLineSpeedIsWrittenLast) {
    Scratch scratch;
    SimProcess source(kSim, {"--rate", "0"});
    const RunResult saved = tool(at(source, {"get", "all", "--json"}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    json snapshot = json::parse(saved.out);
    ASSERT_EQ(snapshot["settings"]["amp-baud"], "38400");
    snapshot["settings"]["amp-baud"] = "19200";  // file order puts it before gain
    snapshot["settings"]["gain"] = "4";
    snapshot["settings"].erase("control");  // gain alone says the gain
    writeFile(scratch.path("amp.json"), snapshot.dump());

    SimProcess target(kSim, {"--rate", "0", "-v"}, scratch.path("sim.log"));
    const RunResult r = tool(at(target, {"set", "--from", scratch.path("amp.json"), "--json"}));
    EXPECT_EQ(r.status, 0) << r.err;
    const json report = json::parse(r.out);
    ASSERT_FALSE(report["settings"].empty());
    EXPECT_EQ(report["settings"].back()["setting"], "amp-baud");
    EXPECT_EQ(report["settings"].back()["outcome"], "not read back");
    target.stop();
    std::vector<std::string> sets;
    for (const std::string& l : lines(readFile(scratch.path("sim.log")))) {
        const auto at = l.find("  Set");
        if (at != std::string::npos && l.find(" > ") != std::string::npos) sets.push_back(l.substr(at + 2));
    }
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets.back(), "SetBaud");
    EXPECT_NE(std::find(sets.begin(), sets.end(), "SetGain"), sets.end());
}

}  // namespace
}  // namespace nxtka_cli::test
