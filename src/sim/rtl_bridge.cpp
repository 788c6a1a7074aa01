#include "sim/rtl_bridge.h"

#if VIREO_RTL_BRIDGE

#include <Vvireo_spi_bridge.h>
#include <verilated.h>

#include "sim/bits.h"

namespace vireo::sim {
namespace {

// The design's inputs follow the TAP: between calls TCK rests high after the rising edge that
// left the last state (or low after an Update-DR or reset, whose falling edge raises chip
// select at once). Every TCK cycle is a falling edge with the inputs of the state being left,
// then the rising edge; TDO is read between the two, as the TAP drives it before the edge.
class RtlBridge final : public BscanUser {
  public:
    explicit RtlBridge(std::shared_ptr<SpiFlash> flash)
        : flash_(std::move(flash)),
          context_(std::make_unique<VerilatedContext>()),
          core_(std::make_unique<Vvireo_spi_bridge>(context_.get(), "bridge")) {
        core_->miso = 1;
        core_->tck = 1;
        core_->eval();
    }
    ~RtlBridge() override { core_->final(); }
    RtlBridge(const RtlBridge&) = delete;
    RtlBridge& operator=(const RtlBridge&) = delete;

    void capture(int user) override {
        select_user(user);
        core_->capture = 1;
        cycle();
        core_->capture = 0;
    }

    void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        if (user != 1 && user != 2) return delay_one_bit(tdi, tdo, nbits, stage_);
        select_user(user);
        core_->shift = 1;
        const bool user1 = user == 1;
        for (size_t i = 0; i < nbits; ++i) {
            core_->tdi = get_bit(tdi, i);
            falling();
            put_bit(tdo, i, user1 ? core_->tdo1 : core_->tdo2);
            // Chip select low in a USER1 shift: this rising edge is an SPI clock, and the flash
            // drives the bit it clocks out (a new byte's first bit once chip select is low).
            if (user1 && selected_) {
                if (bit_ == 0) out_ = flash_->output();
                core_->miso = (out_ >> (7 - bit_)) & 1;
            } else {
                core_->miso = 1;
            }
            rising();
        }
        core_->shift = 0;
        core_->miso = 1;
    }

    void update(int user) override {
        select_user(user);
        core_->update = 1;
        cycle();
        core_->update = 0;
        falling();
    }

    void reset() override {
        select_user(0);
        core_->reset = 1;
        cycle();
        falling();
        core_->reset = 0;
    }

  private:
    void select_user(int user) {
        core_->sel1 = user == 1;
        core_->sel2 = user == 2;
    }

    void cycle() {
        falling();
        rising();
    }

    void falling() {
        core_->tck = 0;
        core_->eval();
        if (!core_->cs_n && !selected_) {
            flash_->select();
            selected_ = true;
            bit_ = 0;
        } else if (core_->cs_n && selected_) {
            flash_->deselect(bit_ == 0);
            selected_ = false;
            bit_ = 0;
        }
    }

    void rising() {
        core_->tck = 1;
        core_->eval();
        if (!selected_ || !core_->sck) return;
        in_ = static_cast<uint8_t>(in_ << 1 | (core_->mosi & 1));
        if (++bit_ == 8) {
            flash_->input(in_);
            bit_ = 0;
        }
    }

    std::shared_ptr<SpiFlash> flash_;
    std::unique_ptr<VerilatedContext> context_;
    std::unique_ptr<Vvireo_spi_bridge> core_;
    bool selected_ = false;  // chip select low
    unsigned bit_ = 0;       // SCK edges of this SPI byte so far
    uint8_t out_ = 0xFF;     // the byte the flash drives in this SPI byte
    uint8_t in_ = 0;         // MOSI bits of this SPI byte so far
    bool stage_ = false;     // USER3/USER4: a one-bit stage, as without user logic
};

}  // namespace

bool rtl_bridge_built() {
    return true;
}

std::unique_ptr<BscanUser> make_rtl_bridge(std::shared_ptr<SpiFlash> flash) {
    return std::make_unique<RtlBridge>(std::move(flash));
}

}  // namespace vireo::sim

#else

namespace vireo::sim {

bool rtl_bridge_built() {
    return false;
}

std::unique_ptr<BscanUser> make_rtl_bridge(std::shared_ptr<SpiFlash>) {
    return nullptr;
}

}  // namespace vireo::sim

#endif
