// What shapes the simulated amplifier's stream of measured values: the frame
// kind, the status byte, the rate and the signal it carries.
#pragma once

#include <cstdint>
#include <vector>

namespace nxtka::sim {

// The first byte of a value frame selects its kind.
enum class FrameKind : std::uint8_t {
    Binary24 = 0x2C,  // ',' status, 24-bit value
    Status16 = 0x26,  // '&' 101sssss, 16-bit value
    Binary16 = 0xA5,  // 0xA5, 16-bit value
    Text = 0x2B,      // '+' or '-', spaces, decimal number, optional CR, LF
};

enum class Waveform : std::uint8_t { Constant, Ramp, Sine, Noise };

// The measured-value stream. Values are on the library's normalized scale:
// 1.05 is the end of scale; unipolar inputs cover 0..1.05, bipolar ones
// -1.05..1.05 (polarity is bit 12 of the control word: clear = bipolar).
struct StreamSettings {
    FrameKind kind = FrameKind::Binary24;
    std::uint8_t status = 0;       // status byte (low 5 bits for '&' frames)
    double rate = 0.0;             // values per second while transmitting; 0: only on request (SingleValue)
    bool transmitting = true;      // state at start; StopTransmit and StartTransmit change it
    Waveform waveform = Waveform::Constant;
    double level = 0.25;           // constant value, start of a ramp, centre of sine and noise
    double amplitude = 0.0;        // ramp height, sine amplitude, noise half-width
    std::uint32_t period = 100;    // values per ramp or sine period
    std::uint64_t seed = 1;        // noise
    // Text frames carry value x display norm, with this many decimals, padded
    // with spaces after the sign to textWidth characters.
    int textDecimals = 4;
    int textWidth = 9;
    bool textCarriageReturn = true;
    // Recorded values played back in a loop instead of the waveform (empty: none).
    std::vector<double> replay;
};

const char* frameKindName(FrameKind kind);
const char* waveformName(Waveform w);

}  // namespace nxtka::sim
