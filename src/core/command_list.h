// The amplifier's command set, one row per defined command code: name, code,
// parameter bytes that follow the code on the wire, data bytes of the answer
// frame after its ";" (0: no answer frame). Every use of a command goes
// through these names; the command table is built from this list.
#pragma once

// clang-format off
#define NXTKA_COMMAND_LIST(X)                  \
    X(ResetStatus,              0, 0, 0)       \
    X(GetScale,                 1, 0, 3)       \
    X(GetZero,                  2, 0, 3)       \
    X(GetControl,               3, 0, 3)       \
    X(GetOffset,                4, 0, 2)       \
    X(WriteScale,               5, 3, 0)       \
    X(WriteZero,                6, 3, 0)       \
    X(WriteControl,             7, 3, 0)       \
    X(WriteOffset,              8, 2, 0)       \
    X(LoadSettings,             9, 1, 0)       \
    X(SaveSettings,            10, 1, 0)       \
    X(Calibrate,               11, 0, 0)       \
    X(AdjustZero,              12, 0, 0)       \
    X(AdjustScale,             13, 0, 0)       \
    X(AdjustOffset,            14, 0, 0)       \
    X(DispSetUnit,             15, 1, 0)       \
    X(DispSetNorm,             16, 3, 0)       \
    X(DispSetDPoint,           17, 1, 0)       \
    X(SetFreq,                 18, 2, 0)       \
    X(SetGain,                 19, 1, 0)       \
    X(SetBipolar,              20, 0, 0)       \
    X(SetUnipolar,             21, 0, 0)       \
    X(GetFreq,                 22, 0, 3)       \
    X(SetCal,                  23, 3, 0)       \
    X(GetCal,                  24, 0, 3)       \
    X(SendId,                  25, 3, 0)       \
    X(DispGetNorm,             26, 0, 3)       \
    X(DispGetUnit,             27, 0, 1)       \
    X(DispGetDPoint,           28, 0, 1)       \
    X(Switch,                  29, 1, 0)       \
    X(WriteSerialNo,           30, 8, 0)       \
    X(GetSerialNo,             31, 0, 8)       \
    X(SetThreshold,            32, 4, 0)       \
    X(GetThreshold,            33, 0, 4)       \
    X(SetChannel,              34, 1, 0)       \
    X(StopTransmit,            35, 0, 0)       \
    X(StartTransmit,           36, 0, 0)       \
    X(ClearBuffer,             37, 0, 0)       \
    X(SetMode,                 38, 1, 0)       \
    X(GetMode,                 39, 0, 1)       \
    X(WriteEquipment,          40, 1, 0)       \
    X(GetEquipment,            41, 0, 1)       \
    X(Identify,                42, 1, 3)       \
    X(GetFirmware,             43, 0, 2)       \
    X(SetGageFactor,           44, 2, 0)       \
    X(GetGageFactor,           45, 0, 2)       \
    X(SetPoisson,              46, 1, 0)       \
    X(GetPoisson,              47, 0, 1)       \
    X(SetBridge,               48, 1, 0)       \
    X(GetBridge,               49, 0, 1)       \
    X(WriteRange,              50, 1, 0)       \
    X(GetRange,                51, 0, 1)       \
    X(SetOffsetWait,           52, 1, 0)       \
    X(GetOffsetWait,           53, 0, 1)       \
    X(GetOptions,              54, 0, 3)       \
    X(WriteOptions,            55, 3, 0)       \
    X(ReadMemory,              56, 1, 5)       \
    X(WriteMemory,             57, 3, 1)       \
    X(GetMemoryWait,           58, 0, 1)       \
    X(SingleValue,             59, 0, 0)       \
    X(ClearMaxValue,           60, 0, 0)       \
    X(DispSetDigits,           61, 1, 0)       \
    X(DispGetDigits,           62, 0, 1)       \
    X(UnlockInterface,         63, 0, 0)       \
    X(LockInterface,           64, 0, 1)       \
    X(GetChannel,              65, 0, 1)       \
    X(GetLastError,            66, 0, 1)       \
    X(SetSecondThreshold,      67, 4, 0)       \
    X(GetSecondThreshold,      68, 0, 4)       \
    X(GetDeviceType,           69, 0, 1)       \
    X(DispCalcNorm,            70, 0, 0)       \
    X(SetTxMode,              128, 1, 0)       \
    X(GetTxMode,              129, 0, 1)       \
    X(SetBaud,                130, 1, 0)       \
    X(GetBaud,                131, 0, 1)       \
    X(Reserved132,            132, 1, 0)       \
    X(Reserved133,            133, 0, 1)       \
    X(SetSlowRate,            134, 2, 0)       \
    X(GetSlowRate,            135, 0, 2)       \
    X(SetSpecialMode,         136, 2, 0)       \
    X(GetSpecialMode,         137, 0, 2)       \
    X(WriteSamplingRate,      138, 3, 0)       \
    X(ReadSamplingRate,       139, 0, 3)       \
    X(SetCanSetting,          140, 3, 0)       \
    X(GetCanSetting,          141, 1, 2)       \
    X(Reserved142,            142, 1, 0)       \
    X(Reserved143,            143, 0, 1)       \
    X(SetAnalogFilter,        144, 2, 0)       \
    X(GetAnalogFilter,        145, 0, 2)       \
    X(SetModeLock,            146, 3, 0)       \
    X(IsCommandAvailable,     147, 2, 1)       \
    X(SetNoiseCutThreshold,   148, 3, 0)       \
    X(GetNoiseCutThreshold,   149, 0, 3)       \
    X(SetAutoZeroCounter,     150, 2, 0)       \
    X(GetAutoZeroCounter,     151, 0, 2)       \
    X(SetUserTextChar,        152, 2, 0)       \
    X(SetUserOffset,          154, 3, 0)       \
    X(GetUserOffset,          155, 0, 3)       \
    X(SetTransmissionDelta,   156, 3, 0)       \
    X(GetTransmissionDelta,   157, 0, 3)       \
    X(SetAdaptFilterMask,     158, 3, 0)       \
    X(GetAdaptFilterMask,     159, 0, 3)       \
    X(SetAdaptFilterLearnVals,160, 2, 0)       \
    X(GetAdaptFilterLearnVals,161, 0, 2)       \
    X(GetRanges,              162, 1, 4)       \
    X(WriteRanges,            163, 4, 0)       \
    X(GetSensorCapacity,      164, 0, 4)       \
    X(SetSensorCapacity,      165, 4, 0)       \
    X(GetRatedOutput,         166, 0, 4)       \
    X(SetRatedOutput,         167, 4, 0)       \
    X(GetSensorTextAssign,    168, 0, 2)
// clang-format on
