// The RTL bridge (hdl/bridge/ through Verilator) against the C++ model it stands beside: random
// header and data scans, cut into pieces as Pause-DR cuts them, with resets between, go to
// both; every TDO bit and everything each flash saw must be the same. Fixed seeds;
// VIREO_PROPERTY_SEED=<n> replays one.
#include "sim/rtl_bridge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "sim/bits.h"
#include "sim/spi_bridge.h"

namespace vireo::sim {
namespace {

// Logs every event of the SPI bus and drives bytes that depend on all it was sent, so a bit
// clocked at the wrong place changes both the log and what TDO shows afterwards.
class LoggingFlash final : public SpiFlash {
  public:
    void select() override { log += "S"; }
    uint8_t output() override {
        state_ = state_ * 0x9E3779B1u + 0x7F4A7C15u;
        log += "o";
        return static_cast<uint8_t>(state_ >> 24);
    }
    void input(uint8_t mosi) override {
        state_ ^= mosi;
        log += std::to_string(mosi) + ",";
    }
    void deselect(bool whole_bytes) override { log += whole_bytes ? "D " : "d "; }
    void advance(uint64_t) override {}
    std::vector<uint8_t>& array() override { return array_; }
    bool busy() const override { return false; }
    uint64_t changes() const override { return 0; }

    std::string log;

  private:
    uint32_t state_ = 1;
    std::vector<uint8_t> array_;
};

class Pair {
  public:
    explicit Pair(uint64_t seed)
        : model_flash_(std::make_shared<LoggingFlash>()),
          rtl_flash_(std::make_shared<LoggingFlash>()),
          model_(model_flash_),
          rtl_(make_rtl_bridge(rtl_flash_)),
          rng_(seed) {}

    // One scan of `user`'s register: capture, nbits in up to three pieces, update. Header bits
    // 8-71 of a USER2 scan are a window near the start (or anything, now and then).
    ::testing::AssertionResult scan(int user, size_t nbits) {
        std::vector<uint8_t> tdi(bytes_for_bits(nbits));
        for (uint8_t& b : tdi) b = static_cast<uint8_t>(rng_());
        if (user == 2 && nbits >= 72 && rng_() % 8 != 0) {
            const uint64_t skip = rng_() % 40, end = skip + rng_() % 160;
            for (size_t i = 0; i < 32; ++i) {
                put_bit(tdi.data(), 8 + i, (skip >> i) & 1);
                put_bit(tdi.data(), 40 + i, (end >> i) & 1);
            }
        }
        model_.capture(user);
        rtl_->capture(user);
        for (size_t done = 0; done < nbits;) {
            const size_t piece = std::min(nbits - done, 1 + rng_() % nbits);
            std::vector<uint8_t> in(bytes_for_bits(piece)), a(in.size()), b(in.size());
            for (size_t i = 0; i < piece; ++i) put_bit(in.data(), i, get_bit(tdi.data(), done + i));
            model_.shift(user, in.data(), a.data(), piece);
            rtl_->shift(user, in.data(), b.data(), piece);
            for (size_t i = 0; i < piece; ++i) {
                if (get_bit(a.data(), i) != get_bit(b.data(), i))
                    return ::testing::AssertionFailure()
                           << "USER" << user << " TDO bit " << done + i << " of " << nbits
                           << ": model " << get_bit(a.data(), i) << ", RTL "
                           << get_bit(b.data(), i);
            }
            done += piece;
        }
        model_.update(user);
        rtl_->update(user);
        return same_bus();
    }

    ::testing::AssertionResult reset() {
        model_.reset();
        rtl_->reset();
        return same_bus();
    }

    std::mt19937_64& rng() { return rng_; }

  private:
    ::testing::AssertionResult same_bus() const {
        if (model_flash_->log == rtl_flash_->log) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "flash saw\n  model: " << model_flash_->log << "\n  RTL:   " << rtl_flash_->log;
    }

    std::shared_ptr<LoggingFlash> model_flash_, rtl_flash_;
    SpiBridge model_;
    std::unique_ptr<BscanUser> rtl_;
    std::mt19937_64 rng_;
};

TEST(RtlBridge, AnswersEveryScanAsTheModelDoes) {
    ASSERT_TRUE(rtl_bridge_built());
    std::vector<uint64_t> seeds;
    if (const char* replay = std::getenv("VIREO_PROPERTY_SEED"))
        seeds.push_back(std::strtoull(replay, nullptr, 10));
    else
        for (uint64_t s = 1; s <= 24; ++s) seeds.push_back(s);
    for (uint64_t seed : seeds) {
        SCOPED_TRACE("VIREO_PROPERTY_SEED=" + std::to_string(seed));
        Pair pair(seed);
        for (int step = 0; step < 150; ++step) {
            const uint64_t pick = pair.rng()() % 20;
            ::testing::AssertionResult same =
                pick < 6    ? pair.scan(2, pick == 0 ? 1 + pair.rng()() % 200 : 128)
                : pick < 18 ? pair.scan(1, pair.rng()() % 240)
                : pick < 19 ? pair.reset()
                            : pair.scan(1 + pair.rng()() % 2, 0);
            ASSERT_TRUE(same) << "step " << step;
        }
    }
}

}  // namespace
}  // namespace vireo::sim
