#include "broker_link.h"

#include "cli_core.h"

#include <mosquitto.h>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace nxtka_cli::mqtt {

void initMosquitto() {
    static const bool done = [] {
        mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
        return true;
    }();
    (void)done;
}

namespace {

void checkReadable(const std::string& path, const char* key) {
    if (path.empty()) return;
    std::ifstream in(path);
    if (!in) throw ToolError("cannot read broker." + std::string(key) + " " + path, kExitUsage);
}

}  // namespace

BrokerLink::BrokerLink(const BrokerConfig& config, std::string clientId, std::optional<Will> will, int wakeFd,
                       bool keepSession)
    : config_(config), clientId_(std::move(clientId)), wakeFd_(wakeFd) {
    initMosquitto();
    mosq_ = mosquitto_new(clientId_.c_str(), !keepSession, this);
    if (!mosq_) throw ToolError("cannot make an MQTT client: " + std::string(std::strerror(errno)));
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &BrokerLink::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &BrokerLink::onDisconnect);
    mosquitto_publish_callback_set(mosq_, &BrokerLink::onPublish);
    mosquitto_message_callback_set(mosq_, &BrokerLink::onMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    mosquitto_max_inflight_messages_set(mosq_, 100);
    if (will && mosquitto_will_set(mosq_, will->topic.c_str(), static_cast<int>(will->payload.size()),
                                   will->payload.data(), 1, true) != MOSQ_ERR_SUCCESS)
        throw ToolError("the last will on " + will->topic + " is not a valid topic", kExitUsage);
    if (!config_.user.empty()) {
        std::string password;
        if (!config_.passwordFile.empty()) password = readPasswordFile(config_.passwordFile);
        mosquitto_username_pw_set(mosq_, config_.user.c_str(), config_.passwordFile.empty() ? nullptr : password.c_str());
    }
    if (!config_.caFile.empty() || !config_.certFile.empty()) {
        checkReadable(config_.caFile, "ca_file");
        checkReadable(config_.certFile, "cert_file");
        checkReadable(config_.keyFile, "key_file");
        if (config_.caFile.empty()) throw ToolError("broker.cert_file needs broker.ca_file", kExitUsage);
        const int rc = mosquitto_tls_set(mosq_, config_.caFile.c_str(), nullptr,
                                         config_.certFile.empty() ? nullptr : config_.certFile.c_str(),
                                         config_.keyFile.empty() ? nullptr : config_.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw ToolError("the TLS files are not usable: " + std::string(mosquitto_strerror(rc)), kExitUsage);
    }
}

BrokerLink::~BrokerLink() {
    close();
    mosquitto_destroy(mosq_);
}

namespace {

// A failure of the TCP connection itself: the broker is not running, the
// host or its network does not answer. Trying again later may mend it.
bool brokerAway(int error) {
    switch (error) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool BrokerLink::connect(double seconds, MessageFn onMessage, bool mayWait) {
    messageFn_ = std::move(onMessage);
    const std::string at = config_.host + ":" + std::to_string(config_.port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai = ::getaddrinfo(config_.host.c_str(), nullptr, &hints, &found);
    if (gai != 0) throw ToolError("unknown broker host " + config_.host + ": " + ::gai_strerror(gai));
    ::freeaddrinfo(found);

    const std::string tlsProblem =
        "TLS with the broker at " + at + " failed: its certificate is not signed by " + config_.caFile +
        " or does not name " + config_.host + (config_.certFile.empty() ? std::string() : ", or it refused the client certificate " + config_.certFile);
    // The broker is not there: fatal for a caller that cannot wait, else the
    // network thread keeps trying with back-off.
    const auto away = [&](const std::string& why) {
        const std::string problem = "the broker at " + at + " is away (" + why + ")";
        if (!mayWait) throw ToolError("cannot reach the broker at " + at + ": " + why);
        {
            std::lock_guard lock(mutex_);
            problem_ = problem;
        }
        retryAt_ = std::chrono::steady_clock::now() + retryDelay_;
        return false;
    };
    errno = 0;
    // Asynchronous: a host that does not answer holds nobody up longer than
    // `seconds`.
    int rc = mosquitto_connect_async(mosq_, config_.host.c_str(), config_.port, config_.keepalive);
    if (rc == MOSQ_ERR_TLS) throw ToolError(tlsProblem);
    if (rc == MOSQ_ERR_ERRNO) {
        const int error = errno;
        if (brokerAway(error)) return away(std::strerror(error));
        throw ToolError("cannot reach the broker at " + at + ": " + std::strerror(error));
    }
    if (rc != MOSQ_ERR_SUCCESS) throw ToolError("cannot reach the broker at " + at + ": " + mosquitto_strerror(rc));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (connackCode_.load() < 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            const std::string why = "no answer within " + std::to_string(static_cast<int>(seconds)) + " s";
            if (!mayWait) throw ToolError("the broker at " + at + " did not answer the connection within " +
                                          std::to_string(static_cast<int>(seconds)) + " s");
            // The network thread goes on waiting; the keep-alive ends a
            // connection that never answers, and it tries again with back-off.
            away(why);
            startThread();
            return false;
        }
        errno = 0;
        rc = mosquitto_loop(mosq_, 100, 1);
        const int error = errno;
        if (rc == MOSQ_ERR_TLS) throw ToolError(tlsProblem);
        if (rc != MOSQ_ERR_SUCCESS && connackCode_.load() < 0) {
            if (rc == MOSQ_ERR_ERRNO && brokerAway(error)) return away(std::strerror(error));
            if (!config_.caFile.empty()) throw ToolError(tlsProblem);
            throw ToolError("the broker at " + at + " closed the connection: " +
                            (rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(error)) : mosquitto_strerror(rc)));
        }
    }
    const int code = connackCode_.load();
    if (code == 4 || code == 5) {
        const std::string who = config_.user.empty() ? "without a user name" : "of user " + config_.user;
        throw ToolError("the broker at " + at + " refused the login " + who + ": " +
                        (code == 4 ? "bad user name or password" : "not authorized"));
    }
    if (code == 3) return away("server unavailable");
    if (code != 0) throw ToolError("the broker at " + at + " refused the connection: " + mosquitto_connack_string(code));
    startThread();
    return true;
}

void BrokerLink::retry() {
    if (threadRunning_ || std::chrono::steady_clock::now() < retryAt_) return;
    errno = 0;
    const int rc = mosquitto_reconnect_async(mosq_);
    const int error = errno;
    if (rc == MOSQ_ERR_SUCCESS) {
        startThread();  // it completes the connection, and reconnects from now on
        return;
    }
    retryDelay_ = std::min<std::chrono::steady_clock::duration>(retryDelay_ * 2, std::chrono::seconds(30));
    retryAt_ = std::chrono::steady_clock::now() + retryDelay_;
    std::lock_guard lock(mutex_);
    problem_ = "the broker at " + config_.host + ":" + std::to_string(config_.port) + " is away (" +
               (rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(error)) : mosquitto_strerror(rc)) + ")";
}

void BrokerLink::startThread() {
    const int rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) throw ToolError("cannot start the MQTT thread: " + std::string(mosquitto_strerror(rc)));
    threadRunning_ = true;
}

void BrokerLink::subscribe(const std::string& filter) {
    {
        std::lock_guard lock(mutex_);
        filters_.push_back(filter);
    }
    if (connected_) mosquitto_subscribe(mosq_, nullptr, filter.c_str(), 1);
}

std::optional<int> BrokerLink::publish(const std::string& topic, std::string_view payload, bool retain) {
    int mid = 0;
    const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                     retain);
    if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
    return mid;
}

std::vector<int> BrokerLink::takeAcknowledged() {
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    out.swap(acked_);
    return out;
}

std::string BrokerLink::lastProblem() {
    std::lock_guard lock(mutex_);
    return problem_;
}

void BrokerLink::close() {
    if (!threadRunning_) return;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    threadRunning_ = false;
    connected_ = false;
}

void BrokerLink::wake() {
    if (wakeFd_ < 0) return;
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &b, 1);
}

void BrokerLink::onConnect(mosquitto* m, void* self, int rc) {
    auto* link = static_cast<BrokerLink*>(self);
    link->connackCode_ = rc;
    if (rc == 0) {
        std::vector<std::string> filters;
        {
            std::lock_guard lock(link->mutex_);
            filters = link->filters_;
            link->problem_.clear();
        }
        for (const std::string& f : filters) mosquitto_subscribe(m, nullptr, f.c_str(), 1);
        link->connected_ = true;
        ++link->generation_;
    }
    link->wake();
}

void BrokerLink::onDisconnect(mosquitto*, void* self, int rc) {
    auto* link = static_cast<BrokerLink*>(self);
    link->connected_ = false;
    if (rc != 0) {
        std::lock_guard lock(link->mutex_);
        link->problem_ = "lost the broker at " + link->config_.host + ":" + std::to_string(link->config_.port);
    }
    link->wake();
}

void BrokerLink::onPublish(mosquitto*, void* self, int mid) {
    auto* link = static_cast<BrokerLink*>(self);
    {
        std::lock_guard lock(link->mutex_);
        link->acked_.push_back(mid);
    }
    link->wake();
}

void BrokerLink::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* link = static_cast<BrokerLink*>(self);
    if (link->messageFn_)
        link->messageFn_(message->topic,
                         std::string_view(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)));
}

}  // namespace nxtka_cli::mqtt
