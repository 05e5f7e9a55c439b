// Both kinds of line a test can run on: the in-process virtual device and a
// real pseudo-terminal (the library's own serial code path).
#pragma once

#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace nxtka::test {

enum class LineKind { Virtual, Pty };

inline void PrintTo(LineKind k, std::ostream* os) { *os << (k == LineKind::Virtual ? "virtual" : "pty"); }

inline std::string lineName(const ::testing::TestParamInfo<LineKind>& info) {
    return info.param == LineKind::Virtual ? "Virtual" : "Pty";
}

struct Line {
    std::shared_ptr<platform::VirtualLink> link;  // virtual lines only
    std::unique_ptr<PtyPeerEnd> pty;              // pseudo-terminals only
    std::unique_ptr<PeerEnd> virtualPeer;
    std::string deviceName;

    PeerEnd& peer() { return pty ? static_cast<PeerEnd&>(*pty) : *virtualPeer; }
    std::unique_ptr<platform::SerialDevice> open() const { return platform::VirtualLink::open(deviceName); }
};

inline Line makeLine(LineKind kind) {
    static std::atomic<int> counter{0};
    Line l;
    if (kind == LineKind::Virtual) {
        l.link = platform::VirtualLink::create();
        l.deviceName = "virtual:test" + std::to_string(counter++);
        l.link->registerAs(l.deviceName);
        l.virtualPeer = std::make_unique<VirtualPeerEnd>(l.link);
    } else {
        l.pty = std::make_unique<PtyPeerEnd>();
        l.deviceName = l.pty->slavePath();
    }
    return l;
}

// Opens the line's device in raw mode at the given speed.
inline std::unique_ptr<platform::SerialDevice> openRaw(const Line& l, std::uint32_t baud = 38400) {
    auto d = l.open();
    if (!d) return d;
    platform::LineSettings ls;
    d->getLineSettings(ls);
    ls.baudRate = baud;
    d->setLineSettings(ls);
    return d;
}

}  // namespace nxtka::test
