#include "sim/board_presets.h"

namespace vireo::sim {
namespace {

// TCK the firmware drives: FX3 boards clock JTAG from the FX3's GPIF at 30 MHz; the USB 2.0
// boards and cables bit-bang it at about 6 MHz.
constexpr uint64_t kFx3Tck = 30'000'000;
constexpr uint64_t kUsb2Tck = 6'000'000;
constexpr uint16_t kMakerVid = 0x2129;

Transport fx3(uint16_t pid, bool superspeed) {
    return {TransportKind::Fx3Board, kMakerVid, pid, superspeed, {}, {}, 0, {}};
}
Transport usb2_board(std::string name, std::string version) {
    return {TransportKind::Usb2Board, 0, 0, false, std::move(name), std::move(version), 0, {}};
}
Transport usb2_cable(std::string name, int protocol) {
    return {TransportKind::Usb2Cable, 0, 0, false, std::move(name), {}, protocol, {}};
}
Transport fx3_boot(std::string becomes) {
    return {TransportKind::Fx3BootLoader, 0x04B4, 0x00F3, false, {}, {}, 0, std::move(becomes)};
}

}  // namespace

const std::vector<BoardPreset>& board_presets() {
    static const std::vector<BoardPreset> presets = {
        {"kb2201", usb2_board("NRVL-SP6-Brd", "1.2"), {"XC6SLX16"}, "AT45DB161D", kUsb2Tck},
        {"kb2201-45", usb2_board("NRVL-SP6-Brd", "1.2"), {"XC6SLX45"}, "W25Q64BV", kUsb2Tck},
        {"kb2202", usb2_board("NRVL-SP6-Brd", "1.0"), {"XC6SLX45T"}, "N25Q128", kUsb2Tck},
        {"kb2203", fx3(0x0640, true), {"XC7A100T"}, "N25Q128", kFx3Tck},
        {"kb2204", fx3(0x0520, false), {"XC7A200T"}, "W25Q256JV", kFx3Tck},
        {"kb2205", usb2_board("NRVL-SP7-Brd", "1.2"), {"XC7S50_CSGA324"}, "W25Q128JV", kUsb2Tck},
        {"lumenk", fx3(0x0640, true), {"XC7K160T"}, "SST25VF032B", kFx3Tck},
        {"keenprobe", usb2_cable("KeenProbe", 1), {"XC6SLX45"}, "AT25DQ321", kUsb2Tck},
        {"keenprobe-c", usb2_cable("KeenProbeC", 2), {"XC7A100T"}, "M25P128", kUsb2Tck},
        {"zynq", fx3(0x0640, true), {std::string(kArmDap), "XC7Z020"}, "W25Q128FV", kFx3Tck},
        {"fx3-boot", fx3_boot("kb2203"), {}, "", kFx3Tck},
    };
    return presets;
}

const BoardPreset* find_board_preset(std::string_view name) {
    for (const auto& p : board_presets())
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace vireo::sim
