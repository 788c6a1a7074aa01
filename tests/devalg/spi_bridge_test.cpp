#include <cstring>

#include "devalg_fixture.h"
#include "sim/bits.h"
#include "sim/bscan.h"

namespace vireo::test {
namespace {

// A bridge design that keeps the documented framing: USER2 captures the descriptor and takes
// the header at Update-DR (bits 8-39 skip, 40-71 end of data); USER1 takes the data bits from
// skip to end and echoes each one a clock later, like a flash that returns what it got.
class EchoBridge final : public sim::BscanUser {
  public:
    void capture(int user) override {
        if (user == 1) bits_.clear(), clock_ = 0;
        if (user != 2) return;
        std::vector<bool> cells(128, false);
        for (int i = 0; i < 128; ++i) cells[i] = ("NORVALE JSPI1.0"[i / 8] >> (i % 8)) & 1;
        control_.load(cells);
    }
    void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        if (user == 2) return control_.shift(tdi, tdo, nbits);
        for (size_t i = 0; i < nbits; ++i, ++clock_) {
            sim::put_bit(tdo, i, inside(clock_ - 1) && bits_.back());
            if (inside(clock_)) bits_.push_back(sim::get_bit(tdi, i));
        }
    }
    void update(int user) override {
        if (user == 2) {
            skip_ = (control_.value() >> 8) & 0xFFFFFFFF;
            end_ = control_.value() >> 40;  // frames short enough to leave bits 64-71 clear
        } else if (!bits_.empty()) {
            std::vector<uint8_t> bytes(bits_.size() / 8, 0);
            for (size_t i = 0; i < bytes.size() * 8; ++i) bytes[i / 8] |= bits_[i] << (7 - i % 8);
            transactions.push_back(bytes);
        }
    }
    std::vector<std::vector<uint8_t>> transactions;  // the bytes of each USER1 scan

  private:
    bool inside(int64_t clock) const { return clock >= skip_ && clock < end_; }
    sim::ShiftRegister control_{128};
    int64_t skip_ = 0, end_ = 0, clock_ = 0;
    std::vector<bool> bits_;
};

class SpiBridgeTest : public DevalgTest {
  protected:
    // Configures a bridge design into the FPGA at index, with an echo bridge behind its USER
    // registers, runs SpiSetup and starts recording the scans.
    DevAlgModule* bridge(std::initializer_list<const char*> parts, int index, const char* part) {
        sim::BitgenOptions options;
        options.spi_bridge = true;
        DevAlgModule* m = bind(parts, index, bit_file(part, options));
        fpga()->set_bscan_user(bridge_ = std::make_shared<EchoBridge>());
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        others_ = chain_count(m->chain) - 1;
        after_ = others_ - index;
        EXPECT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 1), JTAG_OK);
        cable().record_shifts = true;
        return m;
    }
    int txrx(const uint8_t* send, uint8_t* receive, int w, int r, int write_only = 0) {
        DevAlgModule* m = module_.get();
        return devalg_entry<DevAlgTxrxFn>(m, DEVALG_SPI_TXRX)(m, send, receive, w, r, write_only);
    }
    // Since the last call: each header as (skip, end), each other data scan by its length.
    std::vector<uint32_t> frames() {
        std::vector<uint32_t> seen;
        const auto field = [this](const std::vector<uint8_t>& bits, size_t from) {
            uint32_t value = 0;
            for (size_t i = 0; i < 32; ++i) value |= uint32_t{bits[after_ + from + i]} << i;
            return value;
        };
        for (const SimCableState::Shift& s : cable().shifts) {
            if (s.kind == 2 && s.tdi.size() == 128 + others_)
                seen.insert(seen.end(), {field(s.tdi, 8), field(s.tdi, 40)});
            else if (s.kind == 2)
                seen.push_back(static_cast<uint32_t>(s.tdi.size()));
        }
        cable().shifts.clear();
        return seen;
    }

    std::shared_ptr<EchoBridge> bridge_;
    size_t others_ = 0, after_ = 0;  // devices besides the FPGA, and after it
};

TEST_F(SpiBridgeTest, ZynqBridgeBehindTheDap) {
    DevAlgModule* m = bridge({"ARM_DAP", "XC7Z020"}, 1, "XC7Z020");
    uint8_t descriptor[20];
    std::memset(descriptor, 0xEE, sizeof descriptor);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 20, descriptor), JTAG_OK);
    EXPECT_EQ(std::memcmp(descriptor, "NORVALE JSPI1.0", 16), 0);
    EXPECT_EQ(descriptor[16], 0xEE) << "never more than the 16 descriptor bytes";

    // The descriptor read left a zero header in the bridge: the next frame sends its own. One
    // more bit to skip; the register is 8 * bytes + after + 3 bits, plus the DAP's.
    frames();
    const uint8_t status[2] = {0x05, 0xA5};
    uint8_t got = 0;
    EXPECT_EQ(txrx(status, &got, 1, 1), JTAG_OK);
    EXPECT_EQ(got, 0xA5);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{1, 17, 16 + 3 + 1}));
    EXPECT_EQ(bridge_->transactions.back(), std::vector<uint8_t>(status, status + 2));

    // Two pages of the same size share one header; a write-only frame leaves flush and bulk as
    // they were.
    std::vector<uint8_t> page(260), back(256);
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7 + 3);
    EXPECT_EQ(txrx(page.data(), back.data(), 4, 256), JTAG_OK);
    EXPECT_EQ(txrx(page.data(), back.data(), 4, 256), JTAG_OK);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{1, 2081, 2084, 2084}));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), page.begin() + 4));
    EXPECT_EQ(bridge_->transactions.back(), page);
    const ChainSettings before = *chain_settings(m->chain);
    EXPECT_EQ(txrx(page.data(), nullptr, 5, 0, 1), JTAG_OK);
    EXPECT_EQ(chain_settings(m->chain)->flush, before.flush);
    EXPECT_EQ(chain_settings(m->chain)->bulk, before.bulk);
    EXPECT_EQ(bridge_->transactions.back(), std::vector<uint8_t>(page.begin(), page.begin() + 5));

    frames();
    EXPECT_EQ(txrx(page.data(), back.data(), -1, 2), JTAG_FAIL);
    EXPECT_EQ(txrx(page.data(), back.data(), 1, -2), JTAG_FAIL);
    EXPECT_EQ(txrx(page.data(), back.data(), 0x7FFFFFFF, 0x7FFFFFFF), JTAG_FAIL);
    EXPECT_EQ(txrx(page.data(), nullptr, 1, 1), JTAG_NULL);
    EXPECT_EQ(txrx(nullptr, back.data(), 1, 1), JTAG_NULL);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 4, nullptr), JTAG_NULL);
    EXPECT_TRUE(cable().shifts.empty()) << "refused frames shift nothing";
}

TEST_F(SpiBridgeTest, DeviceAfterTheFpgaIsSkipped) {
    bridge({"XC7A100T", "ARM_DAP"}, 0, "XC7A100T");
    const uint8_t send[3] = {0x9F, 0x3C, 0xC3};
    uint8_t got[2] = {};
    EXPECT_EQ(txrx(send, got, 1, 2), JTAG_OK);
    EXPECT_EQ(got[0], 0x3C);
    EXPECT_EQ(got[1], 0xC3);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{1, 25, 24 + 2 + 1}));
}

TEST_F(SpiBridgeTest, ALostCableIsNeverData) {
    DevAlgModule* m = bridge({"XC6SLX16"}, 0, "XC6SLX16");
    const uint8_t send[4] = {0x9F, 0, 0, 0};
    uint8_t got[3] = {0x11, 0x22, 0x33};
    cable().unplug_after = cable().transfers + 1;  // gone in the middle of the transaction
    EXPECT_EQ(txrx(send, got, 1, 3), JTAG_DISCONNECTED);
    EXPECT_EQ(got[0], 0x11) << "nothing stored from a scan that did not happen";
    EXPECT_EQ(m->devopt->status, JTAG_DISCONNECTED);
    EXPECT_EQ(txrx(send, got, 1, 3), JTAG_DISCONNECTED);
    uint8_t descriptor[16] = {};
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 16, descriptor),
              JTAG_DISCONNECTED);
    EXPECT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 0), JTAG_DISCONNECTED);
}

}  // namespace
}  // namespace vireo::test
