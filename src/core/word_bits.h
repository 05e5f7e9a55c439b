// The named bits and fields of the amplifier's words: where each lies in its
// word. Getters of a bit or field and the read-modify-write setters take them.
#pragma once

#include <cstdint>

namespace nxtka {

struct Field {
    unsigned shift;
    unsigned width = 1;
    constexpr std::uint32_t mask() const { return ((std::uint32_t{1} << width) - 1u) << shift; }
};

// Options word (24 bits, command GetOptions).
namespace options {
inline constexpr Field kCode{0, 6};
inline constexpr Field kExtension3{6};   // also: extended sampling-frequency divisor
inline constexpr Field kLinear{7};
inline constexpr Field kExtension21{8};  // also: newer firmware threshold of the display flags
inline constexpr Field kSleepMode{9};    // special mode has a sleep bit
inline constexpr Field kCommandTest{10};
}  // namespace options

// Equipment word (8 bits, command GetEquipment).
namespace equipment {
inline constexpr Field kLcd{0};
inline constexpr Field kAdc{1};
inline constexpr Field kUii{2};
inline constexpr Field kSi{3};
inline constexpr Field kWl{4};
inline constexpr Field kAf{5};
}  // namespace equipment

// Control word (24 bits, commands GetControl / WriteControl).
namespace control {
inline constexpr Field kFrequencyDivisor{0, 11};
inline constexpr Field kUnipolar{12};
inline constexpr Field kChannel{17};
inline constexpr Field kGain{18, 3};
}  // namespace control

// Mode byte (commands GetMode / SetMode).
namespace mode {
inline constexpr Field kSi{0};
inline constexpr Field kText{1};
inline constexpr Field kMax{2};
inline constexpr Field kLog{3};
inline constexpr Field kWindow{4};
inline constexpr Field kAverage{5};
inline constexpr Field kLinear{6};
inline constexpr Field kLock{7};
}  // namespace mode

// Special-mode word (16 bits, commands GetSpecialMode / SetSpecialMode).
namespace specialMode {
inline constexpr Field kSlow{0};
inline constexpr Field kAverage{1};
inline constexpr Field kFilter{2};
inline constexpr Field kMax{3};
inline constexpr Field kFilterAuto{4};
inline constexpr Field kFilterOrder5{5};
inline constexpr Field kSleep{6};
inline constexpr Field kAutoZero{14};
inline constexpr Field kNoiseCut{15};
}  // namespace specialMode

// Bridge word (8 bits, commands GetBridge / SetBridge).
namespace bridge {
inline constexpr Field kType{0, 3};
inline constexpr Field kInternal{4};
}  // namespace bridge

// The session's display flags (set at identification, kept by the display functions).
namespace displayFlag {
inline constexpr Field kNormNegative{0};     // the amplifier's norm is negative
inline constexpr Field kFirmwareDisplay{4};  // firmware at or above the display threshold
inline constexpr Field kActivationBit3{5};   // activated with flag bit 3
}  // namespace displayFlag

// Transmission-mode byte (commands GetTxMode / SetTxMode).
namespace txMode {
inline constexpr Field kConfig{0};
inline constexpr Field kTransmit4{1};
inline constexpr Field kRepeat3{2};
inline constexpr Field kTransmit5{3};
inline constexpr Field kReadOnly{4};
}  // namespace txMode

// CAN settings (commands GetCanSetting / SetCanSetting): 16-bit settings by a
// one-byte index; bit 7 of the index selects the upper half of a 32-bit
// quantity whose lower half sits at the index with bit 7 clear.
namespace can {
inline constexpr std::uint32_t kUpperHalf = 0x80;
inline constexpr std::int32_t kBitRateIndex = 126;
inline constexpr std::int32_t kFlagsIndex = 127;
inline constexpr std::int32_t kModeIndex = 255;
inline constexpr Field kPresent{0};  // in the flags setting
inline constexpr Field kActive{1};   // in the flags setting
inline constexpr Field kMode20B{0};  // in the mode setting: 29-bit identifiers
}  // namespace can

}  // namespace nxtka
