// The sixteen states of an IEEE 1149.1 TAP controller and its TMS-driven transitions.
#pragma once

namespace vireo::sim {

enum class TapState {
    TestLogicReset,
    RunTestIdle,
    SelectDrScan,
    CaptureDr,
    ShiftDr,
    Exit1Dr,
    PauseDr,
    Exit2Dr,
    UpdateDr,
    SelectIrScan,
    CaptureIr,
    ShiftIr,
    Exit1Ir,
    PauseIr,
    Exit2Ir,
    UpdateIr,
};

// State after one rising TCK edge with the given TMS level.
TapState next_tap_state(TapState s, bool tms);

const char* tap_state_name(TapState s);

}  // namespace vireo::sim
