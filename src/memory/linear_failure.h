// Why a linearization call failed, for NXgetLastFailure: its error codes in
// words, and the marker's removal, which must not cost the call its reason.
#pragma once

#include <cstdint>

namespace nxtka::linear {

// Records the reason for `code` (an error code, or the negative result of a
// memory function). A failed transfer (0x2000) and a negative result keep
// the reason the memory function left. `reading`: a table was being read,
// so too many points are the amplifier's, not the caller's.
void explainFailure(std::int32_t code, bool reading);

// Records that removing the marker failed, with the reason of the step that
// failed, as the reason of a call that itself succeeded.
void explainMarkerLeft();

}  // namespace nxtka::linear
