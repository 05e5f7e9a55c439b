// Identifying an active amplifier again, after it was reset or reconfigured
// behind the library's back. Device, thread and ring stay as they are.
#include "core/activation.h"
#include "core/command_table.h"
#include "core/word_bits.h"
#include "core/command_exchange.h"
#include "core/port_guard.h"
#include "nxtka.h"
#include "stream/stream_control.h"

using namespace nxtka;

extern "C" {

NXTKA_API int32_t NXTKA_CALL TKAinitialize(uint32_t port) {
    BothGuard guard(port);
    if (!guard.ok()) return -1;
    PortSession& s = guard.session();
    const int purged = purgeInput(s);
    guard.ringReleased();
    if (purged != 1) return -1;

    s.deviceLevel = -1;
    std::uint32_t control = 0;
    if (!probeControlWord(s, kProbeTimeoutMs, true, control)) return -1;
    s.bipolar = (control & control::kUnipolar.mask()) == 0 ? 1 : 0;
    const IdentifyOptions o{true, false, false, false};
    if (!identifyAfterProbe(s, o)) return -1;
    s.samplingProtocol = -1;
    return 0;
}

}  // extern "C"
