// Compiled by the tests, once per case: the case OK must compile, every other
// case must not (a command whose parameter or answer does not fit a word).
#include "core/command_exchange.h"
#include "core/export_forms.h"
#include "core/serial_link.h"

namespace nxtka {

void compileCase(PortSession& s) {
    std::uint32_t v = 0;
#if defined(CASE_OK)
    requestValue(s, cmd::kGetThreshold, CommandParam::none(), v);
    sendSetting(s, cmd::kSetThreshold, v);
    guardedGet(0, cmd::kGetControl);
#elif defined(CASE_LONG_ANSWER)
    requestValue(s, cmd::kGetSerialNo, CommandParam::none(), v);
#elif defined(CASE_LONG_PARAMETER)
    sendSetting(s, cmd::kWriteSerialNo, v);
#elif defined(CASE_WORD_ANSWER_AS_RESULT)
    guardedGet(0, cmd::kGetThreshold);  // 4 bytes: -1 would be a valid answer
#elif defined(CASE_NO_ANSWER)
    requestValue(s, cmd::kSetGain, CommandParam::none(), v);
#elif defined(CASE_ALONE_WITH_PARAMETER)
    sendAlone(0, cmd::kSetGain);
#endif
    (void)s;
    (void)v;
}

}  // namespace nxtka
