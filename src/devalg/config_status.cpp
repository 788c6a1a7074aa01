#include "devalg/config_status.h"

#include <span>

#include "devalg/devalg_state.h"
#include "devalg/sequence.h"
#include "jtag/chain.h"
#include "jtag/opflag.h"
#include "jtag/status.h"

namespace {

// Register reads that end with a real DESYNC (command 0x0D), so the packet processor of a
// running design is left as the design's own DESYNC left it.
constexpr uint32_t kSeries7Stat[] = {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x2800E001, 0x20000000,
                                     0x20000000, 0x30008001, 0x0000000D, 0x20000000, 0x20000000};
constexpr uint32_t kSeries7Boot[] = {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x2802C001, 0x20000000,
                                     0x20000000, 0x30008001, 0x0000000D, 0x20000000, 0x20000000};
constexpr uint32_t kSpartan6Stat[] = {0xFFFF, 0xFFFF, 0xAA99, 0x5566, 0x2000, 0x2901,
                                      0x2000, 0x2000, 0x30A1, 0x000D, 0x2000, 0x2000};
constexpr uint32_t kSpartan6Boot[] = {0xFFFF, 0xFFFF, 0xAA99, 0x5566, 0x2000, 0x2C01,
                                      0x2000, 0x2000, 0x30A1, 0x000D, 0x2000, 0x2000};

}  // namespace

FpgaFamily devalg_fpga_family(const DevAlgModule* module) {
    const auto* state = module ? static_cast<const DevAlgState*>(module->state) : nullptr;
    return state ? state->family : FpgaFamily::Series7;
}

int devalg_read_config_status(DevAlgModule* module, ConfigStatus* out) {
    if (!out || !module || !module->state || !module->chain || !module->device ||
        devalg_position(module) < 0) {
        return JTAG_NULL;
    }
    *out = ConfigStatus{};
    out->family = devalg_fpga_family(module);
    const bool series7 = out->family == FpgaFamily::Series7;
    const int bits = series7 ? 32 : 16;
    const int pad = chain_pad(chain_count(module->chain));

    SequenceSteps steps(module, JTAG_FAIL);
    steps.instruction(kBypass, CHAIN_WRITE_BACK);
    out->ir_capture = captured_instruction(module);
    using Words = std::span<const uint32_t>;
    read_config_register(steps, module, series7 ? Words(kSeries7Stat) : Words(kSpartan6Stat), bits,
                         pad, &out->stat);
    read_config_register(steps, module, series7 ? Words(kSeries7Boot) : Words(kSpartan6Boot), bits,
                         pad, &out->bootsts);
    steps.instruction(kBypass);
    BsReg* dr = device_get_register(module->device, DEVICE_DR);
    bsreg_resize(dr, 1);
    return steps.status();
}
