#include "sim/board_chain.h"

#include "sim/arm_dap.h"
#include "sim/rtl_bridge.h"
#include "sim/spi_flash.h"
#include "sim/xilinx_fpga.h"

namespace vireo::sim {
namespace {

uint64_t clear_time_ns(const SimConfig& config, const XilinxPart& part) {
    switch (config.clear) {
        case ClearTime::DataSheetMax:
            return part.max_clear_ns;
        case ClearTime::Fixed:
            return config.clear_ns;
        case ClearTime::Typical:
            break;
    }
    return part.clear_ns;
}

}  // namespace

std::unique_ptr<TapChain> build_chain(const SimConfig& config, ConfigEngine::Log log) {
    const BoardPreset* preset = config.preset;
    if (!preset) return nullptr;
    if (preset->transport.kind == TransportKind::Fx3BootLoader)
        preset = find_board_preset(preset->transport.becomes);
    if (!preset) return nullptr;

    auto chain = std::make_unique<TapChain>(preset->tck_hz);
    const FlashPart* flash_part =
        find_flash_part(config.flash.empty() ? preset->flash : config.flash);
    for (const std::string& entry : preset->chain) {
        if (entry == kArmDap) {
            chain->add(std::make_unique<ArmDap>());
            continue;
        }
        const XilinxPart* part = find_xilinx_part(entry);
        if (!part) return nullptr;
        auto fpga = std::make_unique<XilinxFpga>(*part, log);
        fpga->set_dna(board_dna(*part, preset->name));
        fpga->engine().set_clear_time_ns(clear_time_ns(config, *part));
        if (flash_part) fpga->set_flash(make_spi_flash(*flash_part));
        if (config.bridge == BridgeKind::Rtl) fpga->set_bridge_maker(make_rtl_bridge);
        chain->add(std::move(fpga));
    }
    chain->set_tdo_fault(config.tdo);
    return chain;
}

}  // namespace vireo::sim
