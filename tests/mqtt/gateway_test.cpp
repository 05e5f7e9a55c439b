// The gateway end to end: simulated amplifiers on pseudo-terminals, `nxtka
// publish`, a mosquitto of the test's own, `nxtka subscribe`. Each case
// proves one promise of docs/mqtt.md.
#include "broker.h"
#include "subprocess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>

namespace nxtka_cli::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string kTool = NXTKA_CLI_PATH;
const std::string kSim = NXTKA_SIM_PATH;

struct Row {
    std::uint64_t session, sequence;
    std::int64_t timeNs;  // from time_utc, to the microsecond
    double value;
};

std::int64_t parseIsoNs(const std::string& t) {
    std::tm tm{};
    int us = 0;
    std::sscanf(t.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                &tm.tm_sec, &us);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<std::int64_t>(::timegm(&tm)) * 1000000000 + static_cast<std::int64_t>(us) * 1000;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// amplifier -> its rows in file order
std::map<std::string, std::vector<Row>> readRows(const fs::path& csv) {
    std::map<std::string, std::vector<Row>> out;
    std::istringstream in(readFile(csv));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "amplifier,session,time_utc,seconds,sequence,value,scaled,unit,status");
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream l(line);
        for (std::string field; std::getline(l, field, ',');) f.push_back(field);
        if (f.size() != 9) {
            ADD_FAILURE() << "bad row: " << line;
            continue;
        }
        out[f[0]].push_back({std::stoull(f[1]), std::stoull(f[4]), parseIsoNs(f[2]), std::stod(f[5])});
    }
    return out;
}

class Gateway : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() /
                   ("nxtka-mqtt-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::vector<std::unique_ptr<SimProcess>> sims;

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }

    void startSims(int n, int rate) {
        for (int i = 0; i < n; ++i)
            sims.push_back(std::make_unique<SimProcess>(
                kSim, std::vector<std::string>{"--rate", std::to_string(rate), "--waveform", "sine", "--amplitude", "0.5"}));
    }

    // The list: one [[amplifier]] per simulator, a0, a1, ...
    fs::path config(int brokerPort, const std::string& brokerExtra = {}, const std::string& publishExtra = {}) {
        std::string text = "[broker]\nhost = \"localhost\"\nport = " + std::to_string(brokerPort) +
                           "\nclient_id = \"gw\"\nprefix = \"t\"\n" + brokerExtra +
                           "\n[publish]\ninterval_ms = 50\nspool_dir = \"spool\"\nfsync = \"never\"\n" + publishExtra +
                           "\n";
        for (std::size_t i = 0; i < sims.size(); ++i)
            text += "[[amplifier]]\nname = \"a" + std::to_string(i) + "\"\ndevice = \"" + sims[i]->device() + "\"\n";
        writeFile(dir / "gw.toml", text);
        return dir / "gw.toml";
    }

    std::unique_ptr<Background> gateway(const std::string& tag, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{kTool, "publish", (dir / "gw.toml").string(), "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto g = std::make_unique<Background>(args, dir / (tag + ".out"), dir / (tag + ".err"));
        EXPECT_TRUE(g->waitFor("publishing ")) << g->err();
        return g;
    }

    // A subscriber to t/# that keeps its session (so a broker restart costs
    // it nothing), rows to rows.csv, its summary as JSON.
    std::unique_ptr<Background> subscriber(int brokerPort) {
        auto s = std::make_unique<Background>(
            std::vector<std::string>{kTool, "subscribe", "t/#", "--broker", "localhost:" + std::to_string(brokerPort),
                                     "--client-id", "sub", "--keep-session", "--csv", (dir / "rows.csv").string(),
                                     "--out", (dir / "run").string(), "--json"},
            dir / "sub.out", dir / "sub.err");
        EXPECT_TRUE(s->waitFor("subscribed to t/#")) << s->err();
        return s;
    }

    // Stops the subscriber a moment after the gateway is done; its summary.
    static nlohmann::json stopSubscriber(Background& s) {
        std::this_thread::sleep_for(seconds(1));
        s.signal(SIGINT);
        EXPECT_EQ(s.wait(), 130) << s.err();
        return nlohmann::json::parse(s.out(), nullptr, false);
    }

    static std::map<std::string, nlohmann::json> byName(const std::string& summary) {
        std::map<std::string, nlohmann::json> out;
        const auto j = nlohmann::json::parse(summary, nullptr, false);
        EXPECT_TRUE(j.is_object()) << summary;
        if (j.is_object())
            for (const auto& a : j["amplifiers"]) out[a["name"].get<std::string>()] = a;
        return out;
    }

    // Every sequence of the session from 0 to `count` - 1 exactly once, in
    // order; the times never go back and lie in [from, to].
    static void expectComplete(const std::vector<Row>& rows, std::uint64_t count, std::int64_t from, std::int64_t to) {
        ASSERT_EQ(rows.size(), count);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i].sequence, i);
            if (i > 0) {
                ASSERT_GE(rows[i].timeNs, rows[i - 1].timeNs) << i;
            }
            ASSERT_GE(rows[i].timeNs, from - 1000);
            ASSERT_LE(rows[i].timeNs, to);
        }
    }
};

TEST_F(Gateway, FourAmplifiersEveryValueArrivesOnceInOrder) {
    Broker broker(dir / "broker");
    startSims(4, 200);
    config(broker.port());
    auto sub = subscriber(broker.port());
    const std::int64_t from = nowNs();
    const RunResult r = run({kTool, "publish", (dir / "gw.toml").string(), "--json", "--seconds", "3"});
    const std::int64_t to = nowNs();
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json summary = stopSubscriber(*sub);
    const auto published = byName(r.out);
    const auto rows = readRows(dir / "rows.csv");
    ASSERT_EQ(published.size(), 4u);
    for (const auto& [name, p] : published) {
        SCOPED_TRACE(name);
        EXPECT_EQ(p["waiting"], 0);
        EXPECT_EQ(p["spool_dropped_values"], 0);
        const std::uint64_t values = p["values"];
        EXPECT_GT(values, 300u);  // 200 values/s for 3 s, less the start
        expectComplete(rows.at(name), values, from, to);
        EXPECT_EQ(summary["amplifiers"][name]["duplicates"], 0);
        EXPECT_EQ(summary["amplifiers"][name]["gaps"], 0);
        // The gateway said goodbye: state offline, retained.
        EXPECT_EQ(summary["amplifiers"][name]["state"]["state"], "offline");
        // --out: the amplifier's own file, in the columns of nxtka record,
        // the same values (the sequence is the third column).
        const auto recorded = lines(readFile(dir / "run" / (name + ".csv")));
        ASSERT_EQ(recorded.size(), values + 2);
        EXPECT_EQ(recorded[0], "# nxtka subscribe: " + name + " from t/" + name + "/values; scale normalized: normalized");
        EXPECT_EQ(recorded[1], "time_utc,seconds,sequence,value,scaled_value,unit,status");
        for (std::size_t i = 0; i < values; ++i) {
            std::vector<std::string> f;
            std::istringstream l(recorded[i + 2]);
            for (std::string field; std::getline(l, field, ',');) f.push_back(field);
            ASSERT_EQ(f.size(), 7u) << recorded[i + 2];
            ASSERT_EQ(std::stoull(f[2]), i);
            ASSERT_EQ(f[6], "ok");
        }
    }
}

TEST_F(Gateway, JsonBatchesCarryTheSameValues) {
    Broker broker(dir / "broker");
    startSims(1, 100);
    config(broker.port(), "", "format = \"json\"\n");
    auto sub = subscriber(broker.port());
    const std::int64_t from = nowNs();
    const RunResult r = run({kTool, "publish", (dir / "gw.toml").string(), "--seconds", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("a0: "), std::string::npos) << r.out;
    stopSubscriber(*sub);
    const auto rows = readRows(dir / "rows.csv").at("a0");
    ASSERT_GT(rows.size(), 100u);
    expectComplete(rows, rows.size(), from, nowNs());
    // A sine of amplitude 0.5 over two periods: the values span its height.
    double low = 1.0, high = -1.0;
    for (const Row& row : rows) {
        low = std::min(low, row.value);
        high = std::max(high, row.value);
    }
    EXPECT_NEAR(high - low, 1.0, 0.02);
}

TEST_F(Gateway, BrokerAwayTenSecondsCostsNoValue) {
    Broker broker(dir / "broker");
    startSims(2, 200);
    config(broker.port());
    auto sub = subscriber(broker.port());
    const std::int64_t from = nowNs();
    auto gw = gateway("gw");
    std::this_thread::sleep_for(seconds(2));
    broker.stop();
    std::this_thread::sleep_for(seconds(10));
    broker.start();
    // Reconnection with back-off: give it time to send the spool.
    EXPECT_TRUE(gw->waitFor("connected to the broker again", false, seconds(40))) << gw->err();
    std::this_thread::sleep_for(seconds(2));
    gw->signal(SIGINT);
    EXPECT_EQ(gw->wait(), 130) << gw->err();
    const std::int64_t to = nowNs();
    EXPECT_NE(gw->err().find("values go to the spool"), std::string::npos) << gw->err();
    const nlohmann::json summary = stopSubscriber(*sub);
    const auto rows = readRows(dir / "rows.csv");
    for (const auto& [name, p] : byName(gw->out())) {
        SCOPED_TRACE(name);
        EXPECT_EQ(p["waiting"], 0);
        EXPECT_GT(p["values"].get<std::uint64_t>(), 2000u);  // 200/s for 14 s and more
        expectComplete(rows.at(name), p["values"], from, to);
        EXPECT_EQ(summary["amplifiers"][name]["gaps"], 0);
    }
}

TEST_F(Gateway, StartedWithoutBrokerSpoolsUntilItComes) {
    Broker broker(dir / "broker");
    startSims(2, 200);
    config(broker.port());
    // The subscriber's session is made now and kept by the broker while it
    // is down, so that it gets what the gateway sends before it is back.
    auto sub = subscriber(broker.port());
    broker.stop();
    const std::int64_t from = nowNs();
    auto gw = gateway("gw");
    EXPECT_NE(gw->err().find("publish: the broker at localhost:" + std::to_string(broker.port()) +
                             " is away (Connection refused); the values go to the spool"),
              std::string::npos)
        << gw->err();
    std::this_thread::sleep_for(seconds(4));
    broker.start();
    for (const char* name : {"a0", "a1"})
        EXPECT_TRUE(gw->waitFor(std::string(name) + ": connected to the broker at last", false, seconds(40)))
            << gw->err();
    std::this_thread::sleep_for(seconds(2));
    gw->signal(SIGINT);
    EXPECT_EQ(gw->wait(), 130) << gw->err();
    const std::int64_t to = nowNs();
    const nlohmann::json summary = stopSubscriber(*sub);
    const auto rows = readRows(dir / "rows.csv");
    const auto published = byName(gw->out());
    ASSERT_EQ(published.size(), 2u);
    for (const auto& [name, p] : published) {
        SCOPED_TRACE(name);
        EXPECT_EQ(p["waiting"], 0);
        EXPECT_EQ(p["spool_dropped_values"], 0);
        EXPECT_GT(p["values"].get<std::uint64_t>(), 1000u);  // 200/s for 4 s away and 2 s after
        ASSERT_TRUE(rows.count(name));
        // One session, every value from sequence 0 on, the ones spooled
        // before the broker came first.
        expectComplete(rows.at(name), p["values"], from, to);
        EXPECT_EQ(rows.at(name).front().session, rows.at(name).back().session);
        EXPECT_EQ(summary["amplifiers"][name]["gaps"], 0);
        EXPECT_EQ(summary["amplifiers"][name]["state"]["state"], "offline");
    }
}

TEST_F(Gateway, KilledGatewayRestartsFromItsSpoolWithoutGap) {
    Broker broker(dir / "broker");
    startSims(2, 200);
    config(broker.port());
    auto sub = subscriber(broker.port());
    const std::int64_t from = nowNs();
    {
        auto first = gateway("first");
        std::this_thread::sleep_for(seconds(2));
        // The broker away, so that batches wait in the spool when it dies.
        broker.stop();
        std::this_thread::sleep_for(seconds(2));
        first->signal(SIGKILL);
        EXPECT_EQ(first->wait(), 128 + SIGKILL);
    }
    broker.start();
    auto second = gateway("second");
    EXPECT_NE(second->err().find("from an earlier run wait in the spool"), std::string::npos) << second->err();
    std::this_thread::sleep_for(seconds(2));
    second->signal(SIGINT);
    EXPECT_EQ(second->wait(), 130) << second->err();
    const std::int64_t to = nowNs();
    const nlohmann::json summary = stopSubscriber(*sub);
    const auto rows = readRows(dir / "rows.csv");
    for (const auto& [name, p] : byName(second->out())) {
        SCOPED_TRACE(name);
        EXPECT_EQ(p["waiting"], 0);
        // Two sessions: the killed one, complete from 0 to where its spool
        // ended (the outage included), then the new one.
        std::map<std::uint64_t, std::vector<Row>> sessions;
        for (const Row& row : rows.at(name)) sessions[row.session].push_back(row);
        ASSERT_EQ(sessions.size(), 2u);
        const auto& killed = sessions.begin()->second;
        expectComplete(killed, killed.size(), from, to);
        EXPECT_GT(killed.size(), 600u);  // 4 s at 200/s, of which 2 s only in the spool
        expectComplete(sessions.rbegin()->second, p["values"], from, to);
        EXPECT_EQ(summary["amplifiers"][name]["gaps"], 0);
    }
}

TEST_F(Gateway, AFullSpoolDropsTheOldestAndSaysSoInState) {
    Broker broker(dir / "broker");
    startSims(1, 200);
    // 50 ms batches of about 10 values (194 bytes): 4096 bytes hold about 20.
    config(broker.port(), "", "spool_bytes = 4096\n");
    auto sub = subscriber(broker.port());
    auto gw = gateway("gw");
    std::this_thread::sleep_for(seconds(1));
    broker.stop();
    std::this_thread::sleep_for(seconds(4));
    broker.start();
    EXPECT_TRUE(gw->waitFor("connected to the broker again", false, seconds(40))) << gw->err();
    std::this_thread::sleep_for(seconds(1));
    gw->signal(SIGINT);
    EXPECT_EQ(gw->wait(), 130) << gw->err();
    EXPECT_NE(gw->err().find("a0: the spool is full: dropped the oldest batches"), std::string::npos) << gw->err();
    const nlohmann::json summary = stopSubscriber(*sub);
    const auto p = byName(gw->out()).at("a0");
    const std::uint64_t dropped = p["spool_dropped_values"];
    EXPECT_GT(p["spool_dropped_batches"].get<std::uint64_t>(), 0u);
    EXPECT_GT(dropped, 300u);  // 4 s of 200/s, less what 4096 bytes hold
    const nlohmann::json& a0 = summary["amplifiers"]["a0"];
    // The subscriber saw the hole the spool left, no more than was dropped
    // (a batch the broker had before it went may be counted as dropped).
    EXPECT_EQ(a0["gaps"], 1);
    EXPECT_GT(a0["missing"].get<std::uint64_t>(), 0u);
    EXPECT_LE(a0["missing"].get<std::uint64_t>(), dropped);
    EXPECT_EQ(a0["values"].get<std::uint64_t>() + a0["missing"].get<std::uint64_t>(), p["values"].get<std::uint64_t>());
    // The retained state counts the drop.
    EXPECT_EQ(a0["state"]["spool_dropped_values"], dropped);
}

TEST_F(Gateway, LastWillTurnsStateOfflineWhenTheGatewayDies) {
    Broker broker(dir / "broker");
    startSims(2, 50);
    config(broker.port());
    auto sub = subscriber(broker.port());
    auto gw = gateway("gw");
    EXPECT_TRUE(sub->waitFor("a1: online")) << sub->err();
    gw->signal(SIGKILL);
    EXPECT_EQ(gw->wait(), 128 + SIGKILL);
    EXPECT_TRUE(sub->waitFor("a1: offline (gateway gone)")) << sub->err();
    const nlohmann::json summary = stopSubscriber(*sub);
    for (const char* name : {"a0", "a1"}) EXPECT_EQ(summary["amplifiers"][name]["state"]["state"], "offline") << name;
}

TEST_F(Gateway, AFailedLineIsStatedAndTheOthersGoOn) {
    Broker broker(dir / "broker");
    startSims(2, 100);
    config(broker.port());
    auto sub = subscriber(broker.port());
    auto gw = gateway("gw", {"--seconds", "3"});
    EXPECT_TRUE(sub->waitFor("a1: online")) << sub->err();
    sims[1]->stop();  // the amplifier's side hangs up
    EXPECT_TRUE(sub->waitFor("a1: line failed (")) << sub->err();
    EXPECT_EQ(gw->wait(), 1) << gw->err();
    EXPECT_NE(gw->err().find("publish: a1: line failed: "), std::string::npos) << gw->err();
    const nlohmann::json summary = stopSubscriber(*sub);
    const auto published = byName(gw->out());
    EXPECT_EQ(published.at("a1")["state"], "line failed");
    EXPECT_EQ(published.at("a0")["state"], "offline");
    // a0 went on to the end: about 3 s of 100 values/s, all of them delivered.
    EXPECT_GT(published.at("a0")["values"].get<std::uint64_t>(), 200u);
    EXPECT_EQ(summary["amplifiers"]["a0"]["values"], published.at("a0")["values"]);
    EXPECT_EQ(summary["amplifiers"]["a1"]["values"], published.at("a1")["values"]);
    EXPECT_EQ(summary["amplifiers"]["a1"]["state"]["state"], "line failed");
}

TEST_F(Gateway, TlsWithClientCertificate) {
    Broker broker(dir / "broker", Broker::Kind::tls);
    startSims(1, 100);
    const std::string b = (dir / "broker").string();
    config(broker.port(), "ca_file = \"" + b + "/ca.pem\"\ncert_file = \"" + b + "/client.pem\"\nkey_file = \"" + b +
                              "/client.key\"\n");
    const RunResult ok = run({kTool, "publish", (dir / "gw.toml").string(), "--json", "--seconds", "1"});
    ASSERT_EQ(ok.status, 0) << ok.err;
    const auto p = byName(ok.out).at("a0");
    EXPECT_GT(p["acknowledged"].get<std::uint64_t>(), 0u);
    EXPECT_EQ(p["waiting"], 0);

    // A CA that did not sign the broker's certificate.
    config(broker.port(), "ca_file = \"" + b + "/other-ca.pem\"\ncert_file = \"" + b + "/client.pem\"\nkey_file = \"" +
                              b + "/client.key\"\n");
    const RunResult untrusted = run({kTool, "publish", (dir / "gw.toml").string(), "--seconds", "1"});
    EXPECT_EQ(untrusted.status, 1) << untrusted.err;
    EXPECT_NE(untrusted.err.find("nxtka: TLS with the broker at localhost:" + std::to_string(broker.port()) +
                                 " failed: its certificate is not signed by"),
              std::string::npos)
        << untrusted.err;
}

TEST_F(Gateway, RefusedPasswordAndUnknownHostAreNamed) {
    Broker broker(dir / "broker", Broker::Kind::password);
    startSims(1, 100);
    writeFile(dir / "wrong.pw", "wrong-one\n");
    writeFile(dir / "right.pw", "right-one\n");
    config(broker.port(), "user = \"gateway\"\npassword_file = \"wrong.pw\"\n");
    const RunResult refused = run({kTool, "publish", (dir / "gw.toml").string(), "--seconds", "1"});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("nxtka: the broker at localhost:" + std::to_string(broker.port()) +
                               " refused the login of user gateway"),
              std::string::npos)
        << refused.err;

    config(broker.port(), "user = \"gateway\"\npassword_file = \"right.pw\"\n");
    const RunResult ok = run({kTool, "publish", (dir / "gw.toml").string(), "--seconds", "1"});
    EXPECT_EQ(ok.status, 0) << ok.err;

    // A password on the list itself is refused before anything is opened.
    config(broker.port(), "user = \"gateway\"\npassword = \"right-one\"\n");
    const RunResult inline_ = run({kTool, "publish", (dir / "gw.toml").string(), "--seconds", "1"});
    EXPECT_EQ(inline_.status, 2) << inline_.err;
    EXPECT_NE(inline_.err.find("use broker.password_file (line 7)"), std::string::npos) << inline_.err;

    writeFile(dir / "gw.toml", "[broker]\nhost = \"no-such-host.invalid\"\n[[amplifier]]\nname = \"a0\"\ndevice = \"" +
                                   sims[0]->device() + "\"\n");
    const RunResult unknown = run({kTool, "publish", (dir / "gw.toml").string(), "--seconds", "1"});
    EXPECT_EQ(unknown.status, 1) << unknown.err;
    EXPECT_NE(unknown.err.find("nxtka: unknown broker host no-such-host.invalid"), std::string::npos) << unknown.err;
}

}  // namespace
}  // namespace nxtka_cli::test
