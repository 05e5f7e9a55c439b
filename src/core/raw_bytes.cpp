// Raw bytes to one or many ports, the data event, and the service hook.
#include "core/export_forms.h"
#include "core/port_guard.h"
#include "core/serial_link.h"
#include "nxtka.h"

#include <vector>

namespace nxtka {
namespace {

// A HANDLE on Windows, a file descriptor elsewhere.
NXTKA_EVENT toHandle(platform::Event& e) {
    return (NXTKA_EVENT)e.nativeHandle();
}

}  // namespace
}  // namespace nxtka

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL NXsendBytes(uint32_t port, const unsigned char* bytes, int32_t count) {
    if (count <= 0 || bytes == nullptr) return refuseArgument("no bytes to send");
    CommandGuard guard(port);
    if (!guard.ok()) return -1;
    return writeBytes(guard.session(), bytes, static_cast<std::uint32_t>(count)) == 1 ? 0 : -1;
}

NXTKA_API int32_t NXTKA_CALL NXasynchronousSendBytes(uint32_t port, const unsigned char* bytes, int32_t count,
                                                     NXTKA_EVENT* event) {
    // Unless a write is left in progress, the caller gets a null event, also
    // on failure, so an array of gathered events never holds garbage.
    if (event != nullptr) *event = NXTKA_EVENT{};
    if (count <= 0 || bytes == nullptr) return refuseArgument("no bytes to send");
    CommandGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const int started = startWrite(s, bytes, static_cast<std::uint32_t>(count));
    if (started != -1) return started == 1 ? 0 : -1;
    // The port stays locked by this thread until it synchronises.
    s.linkState = kLinkAsyncWrite;
    s.asyncWriteResult = -1;
    s.asyncWriteLength = count;
    if (event != nullptr) *event = toHandle(s.device->writeDone());
    guard.keepLocked();
    return 1;
}

NXTKA_API int32_t NXTKA_CALL NXsynchronizeSendBytes(uint32_t port) {
    CommandGuard guard(port, GuardKind::Async);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    bool ok = s.asyncWriteResult != 0;
    if (ok && s.asyncWriteResult == -1) {
        std::uint32_t transferred = static_cast<std::uint32_t>(s.asyncWriteLength);
        ok = s.device->waitWrite(transferred) && flushAfterWrite(s) &&
             transferred == static_cast<std::uint32_t>(s.asyncWriteLength);
    }
    s.linkState = kLinkReady;
    // The ownership kept by the asynchronous start; the guard releases its own.
    library().slot(port).apiMutex.load()->unlock();
    return ok ? 0 : -1;
}

NXTKA_API int32_t NXTKA_CALL NXsendBytesToDevices(const uint32_t* ports, int32_t portCount,
                                                  const unsigned char* bytes, int32_t count) {
    if (count <= 0 || bytes == nullptr || portCount < 1 || portCount > static_cast<int32_t>(kPortCount) ||
        ports == nullptr) {
        return refuseArgument("no bytes, or no ports or more than 1024");
    }
    int32_t result = 0;
    struct Started {
        uint32_t port;
        platform::Event* done;
    };
    std::vector<Started> started;
    for (int32_t i = 0; i < portCount; ++i) {
        NXTKA_EVENT handle{};
        const int32_t r = NXasynchronousSendBytes(ports[i], bytes, count, &handle);
        if (r == 1) {
            // This thread owns the port now, so its session stays put.
            started.push_back({ports[i], &library().slot(ports[i]).session.load()->device->writeDone()});
        } else if (r < 0 && result == 0) {
            result = r;
        }
    }
    for (const Started& s : started) s.done->wait(platform::kInfinite);
    for (const Started& s : started) {
        const int32_t r = NXsynchronizeSendBytes(s.port);
        if (r < 0 && result == 0) result = r;
    }
    return result;
}

NXTKA_API NXTKA_EVENT NXTKA_CALL NXrequestEvent(uint32_t port) {
    RingGuard guard(port);
    if (!guard.ok()) return NXTKA_EVENT{};
    PortSession& s = guard.session();
    if (!s.dataEvent) s.dataEvent = std::make_unique<platform::Event>(true, dataEventDue(s));
    return toHandle(*s.dataEvent);
}

NXTKA_API int32_t NXTKA_CALL NXreservedExec(uint32_t port, int32_t reserved, NXTKA_EXEC_CALLBACK callback,
                                            int32_t argument) {
    if (reserved != 0 || callback == nullptr) return refuseArgument("reserved not 0 or no callback");
    CommandGuard guard(port);
    if (!guard.ok()) return -1;
    return callback(port, argument);
}

}  // extern "C"
