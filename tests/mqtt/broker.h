// A mosquitto broker of a test's own, on a free loopback port with a config
// made here (optionally TLS with certificates made by openssl, or a password
// file made by mosquitto_passwd), and programs kept running in the
// background with their output in files.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace nxtka_cli::test {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Runs a shell command line; throws when it fails.
inline void shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// A program in the background, its stdout and stderr in files.
class Background {
public:
    Background(std::vector<std::string> args, const std::filesystem::path& out, const std::filesystem::path& err)
        : out_(out), err_(err) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(in, 0);
            ::dup2(o, 1);
            ::dup2(e, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // The exit status (128 + signal when killed), or -1 when it did not end
    // in time (then it is killed).
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        if (pid_ <= 0) return status_;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int ws = 0;
        while (::waitpid(pid_, &ws, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return status_ = -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
        return status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }
    bool running() {
        return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
    }
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }
    // Waits until stderr (or stdout) holds `text`; false after the timeout
    // or when the program ended.
    bool waitFor(const std::string& text, bool inStdout = false,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if ((inStdout ? out() : err()).find(text) != std::string::npos) return true;
            if (!running()) return (inStdout ? out() : err()).find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::filesystem::path out_, err_;
};

inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class Broker {
public:
    enum class Kind { plain, password, tls };

    // Makes the config (and the files it needs) in `dir` and starts.
    Broker(const std::filesystem::path& dir, Kind kind = Kind::plain) : dir_(dir), port_(freeLoopbackPort()) {
        std::filesystem::create_directories(dir_);
        std::string conf = "listener " + std::to_string(port_) + " 127.0.0.1\n" +
                           "persistence true\npersistence_location " + dir_.string() + "/\n" +
                           "autosave_interval 1\nmax_queued_messages 100000\n";
        if (kind == Kind::password) {
            shell(std::string(MOSQUITTO_PASSWD_PATH) + " -c -b '" + (dir_ / "passwd").string() + "' gateway right-one");
            conf += "allow_anonymous false\npassword_file " + (dir_ / "passwd").string() + "\n";
        } else {
            conf += "allow_anonymous true\n";
        }
        if (kind == Kind::tls) {
            makeCertificates();
            conf += "cafile " + (dir_ / "ca.pem").string() + "\ncertfile " + (dir_ / "server.pem").string() +
                    "\nkeyfile " + (dir_ / "server.key").string() + "\nrequire_certificate true\n";
        }
        writeFile(dir_ / "mosquitto.conf", conf);
        // Started as root, mosquitto drops to its own user: it must still read
        // the keys and write its sessions here.
        shell("chmod -R a+rwX '" + dir_.string() + "'");
        start();
    }
    ~Broker() { stop(); }

    int port() const { return port_; }
    const std::filesystem::path& dir() const { return dir_; }

    void start() {
        process_ = std::make_unique<Background>(
            std::vector<std::string>{MOSQUITTO_PATH, "-c", (dir_ / "mosquitto.conf").string()}, dir_ / "broker.out",
            dir_ / "broker.err");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!listening(port_)) {
            if (std::chrono::steady_clock::now() > deadline || !process_->running())
                throw std::runtime_error("mosquitto did not start: " + process_->err());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // SIGTERM: the broker saves its sessions and stops.
    void stop() {
        if (!process_) return;
        process_->signal(SIGTERM);
        process_->wait(std::chrono::seconds(10));
        process_.reset();
    }

private:
    // A CA, a server certificate for localhost/127.0.0.1 and a client
    // certificate signed by it, and a second CA that signed nothing here.
    void makeCertificates() {
        const std::string d = "'" + dir_.string() + "'";
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const std::string quiet = " 2>/dev/null";
        for (const char* ca : {"ca", "other-ca"})
            shell(std::string(OPENSSL_PATH) + " req -x509" + ec + "-keyout " + d + "/" + ca + ".key -out " + d + "/" +
                  ca + ".pem -days 2 -subj /CN=" + ca + quiet);
        writeFile(dir_ / "san.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        for (const char* who : {"server", "client"}) {
            shell(std::string(OPENSSL_PATH) + " req" + ec + "-keyout " + d + "/" + who + ".key -out " + d + "/" + who +
                  ".csr -subj /CN=" + (std::string(who) == "server" ? "localhost" : "gateway") + quiet);
            shell(std::string(OPENSSL_PATH) + " x509 -req -in " + d + "/" + who + ".csr -CA " + d + "/ca.pem -CAkey " +
                  d + "/ca.key -CAcreateserial -days 2 -out " + d + "/" + who + ".pem" +
                  (std::string(who) == "server" ? " -extfile " + d + "/san.ext" : std::string()) + quiet);
        }
    }

    std::filesystem::path dir_;
    int port_;
    std::unique_ptr<Background> process_;
};

}  // namespace nxtka_cli::test
