#include "sim/tap_state.h"

namespace vireo::sim {

TapState next_tap_state(TapState s, bool tms) {
    using S = TapState;
    switch (s) {
        case S::TestLogicReset:
            return tms ? S::TestLogicReset : S::RunTestIdle;
        case S::RunTestIdle:
            return tms ? S::SelectDrScan : S::RunTestIdle;
        case S::SelectDrScan:
            return tms ? S::SelectIrScan : S::CaptureDr;
        case S::CaptureDr:
            return tms ? S::Exit1Dr : S::ShiftDr;
        case S::ShiftDr:
            return tms ? S::Exit1Dr : S::ShiftDr;
        case S::Exit1Dr:
            return tms ? S::UpdateDr : S::PauseDr;
        case S::PauseDr:
            return tms ? S::Exit2Dr : S::PauseDr;
        case S::Exit2Dr:
            return tms ? S::UpdateDr : S::ShiftDr;
        case S::UpdateDr:
            return tms ? S::SelectDrScan : S::RunTestIdle;
        case S::SelectIrScan:
            return tms ? S::TestLogicReset : S::CaptureIr;
        case S::CaptureIr:
            return tms ? S::Exit1Ir : S::ShiftIr;
        case S::ShiftIr:
            return tms ? S::Exit1Ir : S::ShiftIr;
        case S::Exit1Ir:
            return tms ? S::UpdateIr : S::PauseIr;
        case S::PauseIr:
            return tms ? S::Exit2Ir : S::PauseIr;
        case S::Exit2Ir:
            return tms ? S::UpdateIr : S::ShiftIr;
        case S::UpdateIr:
            return tms ? S::SelectDrScan : S::RunTestIdle;
    }
    return S::TestLogicReset;
}

const char* tap_state_name(TapState s) {
    static const char* const names[] = {
        "Test-Logic-Reset", "Run-Test/Idle",  "Select-DR-Scan", "Capture-DR",
        "Shift-DR",         "Exit1-DR",       "Pause-DR",       "Exit2-DR",
        "Update-DR",        "Select-IR-Scan", "Capture-IR",     "Shift-IR",
        "Exit1-IR",         "Pause-IR",       "Exit2-IR",       "Update-IR",
    };
    return names[static_cast<int>(s)];
}

}  // namespace vireo::sim
