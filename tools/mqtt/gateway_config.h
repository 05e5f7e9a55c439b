// The configuration of `nxtka publish` and `nxtka subscribe --config`: the
// amplifier list shared with `nxtka record`, plus [broker] and [publish]
// (docs/mqtt.md).
#pragma once

#include "amplifier_list.h"
#include "spool.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nxtka_cli::mqtt {

struct BrokerConfig {
    std::string host = "localhost";
    int port = 1883;
    std::string clientId;  // empty: nxtka-HOSTNAME
    std::string prefix = "nxtka";
    std::string caFile, certFile, keyFile;
    std::string user, passwordFile;
    int keepalive = 30;
};

enum class PayloadFormat { binary, json };

struct PublishConfig {
    int intervalMs = 100;
    std::uint32_t maxValues = 1000;
    PayloadFormat format = PayloadFormat::binary;
    std::string spoolDir = "nxtka-spool";
    std::uint64_t spoolBytes = 64ull << 20;
    FsyncPolicy fsync = FsyncPolicy::interval;
    bool remoteSettings = false;
};

struct GatewayConfig {
    std::vector<AmplifierEntry> amplifiers;  // the list of `nxtka record`
    BrokerConfig broker;
    PublishConfig publish;
};

// Reads the file; relative paths in it (spool, TLS and password files) are
// taken from the file's directory. `needAmplifiers` false: [broker] only.
// Throws ToolError (status 2) naming the key and the line of a bad entry.
GatewayConfig readGatewayConfig(const std::string& path, bool needAmplifiers);

// The password file's first line, without its line end. Throws ToolError
// (status 2) when it cannot be read.
std::string readPasswordFile(const std::string& path);

}  // namespace nxtka_cli::mqtt
