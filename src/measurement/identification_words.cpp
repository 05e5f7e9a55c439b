// Options word, equipment word, firmware version and serial number.
#include "core/export_forms.h"
#include "nxtka.h"

using namespace nxtka;

namespace {
constexpr std::uint32_t kSerialPacingMs = 10;
}

NXTKA_API int32_t NXTKA_CALL TKAgetOptions(uint32_t port) {
    return guardedGetKeeping(port, cmd::kGetOptions,
                             [](PortSession& s, std::uint32_t word) { s.optionBits = static_cast<int>(word); });
}
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsCode(uint32_t port) { return fieldOf(TKAgetOptions(port), options::kCode); }
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsExtension3(uint32_t port) {
    return fieldOf(TKAgetOptions(port), options::kExtension3);
}
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsLinear(uint32_t port) { return fieldOf(TKAgetOptions(port), options::kLinear); }
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsExtension21(uint32_t port) {
    return fieldOf(TKAgetOptions(port), options::kExtension21);
}
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsSleepMode(uint32_t port) {
    return fieldOf(TKAgetOptions(port), options::kSleepMode);
}
NXTKA_API int32_t NXTKA_CALL TKAgetOptionsCommandTest(uint32_t port) {
    return fieldOf(TKAgetOptions(port), options::kCommandTest);
}
NXTKA_API int32_t NXTKA_CALL NXwriteOptions(uint32_t port, int32_t value) {
    return setChecked(port, cmd::kWriteOptions, value);
}

NXTKA_API int32_t NXTKA_CALL TKAgetEquipment(uint32_t port) { return guardedGet(port, cmd::kGetEquipment); }
NXTKA_API int32_t NXTKA_CALL TKAhasLCD(uint32_t port) { return fieldOf(TKAgetEquipment(port), equipment::kLcd); }
NXTKA_API int32_t NXTKA_CALL TKAhasADC(uint32_t port) { return fieldOf(TKAgetEquipment(port), equipment::kAdc); }
NXTKA_API int32_t NXTKA_CALL TKAhasUII(uint32_t port) { return fieldOf(TKAgetEquipment(port), equipment::kUii); }
NXTKA_API int32_t NXTKA_CALL TKAisSI(uint32_t port) { return fieldOf(TKAgetEquipment(port), equipment::kSi); }
NXTKA_API int32_t NXTKA_CALL TKAisWL(uint32_t port) { return fieldOf(TKAgetEquipment(port), equipment::kWl); }
NXTKA_API int32_t NXTKA_CALL TKAhasAF(uint32_t port) { return fieldOf(TKAgetEquipment(port), equipment::kAf); }
NXTKA_API int32_t NXTKA_CALL NXwriteEquipment(uint32_t port, int32_t value) {
    return setChecked(port, cmd::kWriteEquipment, value);
}

NXTKA_API int32_t NXTKA_CALL TKAfirmwareVersion(uint32_t port) {
    return guardedGetKeeping(port, cmd::kGetFirmware,
                             [](PortSession& s, std::uint32_t word) { s.firmwareVersion = static_cast<int>(word); });
}

NXTKA_API int32_t NXTKA_CALL TKAgetSerialNo(uint32_t port, char* text) {
    if (text == nullptr) return refuseArgument("null text");
    text[0] = 0;  // an empty text after any failure
    return underGuard(port, [&](PortSession& s) -> std::int32_t {
        if (!requestAnswer(s, cmd::kGetSerialNo, CommandParam::none(), text, kAnswerTimeoutMs)) return -1;
        text[cmd::kGetSerialNo.answerBytes] = 0;
        return 0;
    });
}
NXTKA_API int32_t NXTKA_CALL NXwriteSerialNo(uint32_t port, const char* text) {
    return sendByteArray(port, cmd::kWriteSerialNo, reinterpret_cast<const std::uint8_t*>(text), kSerialPacingMs);
}
