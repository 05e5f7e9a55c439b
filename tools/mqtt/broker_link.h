// One connection to the broker (libmosquitto), with its network thread:
// connects once with every failure explained (unknown host, refused login,
// untrusted certificate), then reconnects by itself with back-off. QoS 1
// acknowledgements are collected for the thread that publishes.
#pragma once

#include "gateway_config.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace nxtka_cli::mqtt {

// mosquitto_lib_init once per process (and cleanup at exit).
void initMosquitto();

struct Will {
    std::string topic, payload;
};

class BrokerLink {
public:
    using MessageFn = std::function<void(const std::string& topic, std::string_view payload)>;

    // Makes the client; nothing is sent yet. `wakeFd`: written to (one byte)
    // when an acknowledgement or a (re)connection arrives; -1 for none.
    // `keepSession`: the broker keeps the subscriptions and queues messages
    // while the client is away (a subscriber that must miss nothing).
    BrokerLink(const BrokerConfig& config, std::string clientId, std::optional<Will> will, int wakeFd = -1,
               bool keepSession = false);
    ~BrokerLink();
    BrokerLink(const BrokerLink&) = delete;
    BrokerLink& operator=(const BrokerLink&) = delete;

    // Connects and waits for the broker's answer (at most `seconds`); then
    // starts the network thread. Throws ToolError (status 1) saying why it
    // failed. `onMessage` (may be empty) runs on the network thread.
    // `mayWait`: a broker that is not there (connection refused, no answer,
    // unreachable, server unavailable) is not fatal: the network thread
    // keeps trying with back-off, lastProblem() says why, and the result is
    // false. What retrying cannot mend (an unknown host name, a refused
    // login, an untrusted certificate) throws all the same.
    bool connect(double seconds, MessageFn onMessage = {}, bool mayWait = false);
    // Subscribes (QoS 1); the subscription is made again after a reconnect.
    void subscribe(const std::string& filter);
    // Publishes with QoS 1; the message id, or nullopt when the library
    // refused it (not connected).
    std::optional<int> publish(const std::string& topic, std::string_view payload, bool retain);
    // After connect() found the broker away before its network thread ran:
    // tries again when the back-off (1 s doubling to 30 s) has passed. Call
    // it now and then from the thread that publishes.
    void retry();
    bool connected() const { return connected_.load(); }
    // Counts the connections made: a new value means "send again".
    std::uint64_t generation() const { return generation_.load(); }
    // The message ids acknowledged since the last call.
    std::vector<int> takeAcknowledged();
    // The latest reason the connection was lost, or "".
    std::string lastProblem();
    // Disconnects cleanly (no last will) and stops the thread.
    void close();

private:
    static void onConnect(mosquitto*, void*, int rc);
    static void onDisconnect(mosquitto*, void*, int rc);
    static void onPublish(mosquitto*, void*, int mid);
    static void onMessage(mosquitto*, void*, const mosquitto_message*);
    void wake();
    void startThread();

    BrokerConfig config_;
    std::string clientId_;
    mosquitto* mosq_ = nullptr;
    int wakeFd_;
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<int> connackCode_{-1};
    std::mutex mutex_;
    std::vector<int> acked_;
    std::vector<std::string> filters_;
    std::string problem_;
    MessageFn messageFn_;
    bool threadRunning_ = false;
    std::chrono::steady_clock::time_point retryAt_{};
    std::chrono::steady_clock::duration retryDelay_ = std::chrono::seconds(1);
};

}  // namespace nxtka_cli::mqtt
