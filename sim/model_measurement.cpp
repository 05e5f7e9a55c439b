#include "amplifier_model.h"

#include "core/command_table.h"

namespace nxtka::sim {

// Adjustment procedures, thresholds, bridge, input range and display.
void AmplifierModel::installMeasurementHandlers() {}

}  // namespace nxtka::sim
