#include <cstring>

#include "devalg_fixture.h"
#include "echo_bridge.h"

namespace vireo::test {
namespace {

uint32_t field(const std::vector<uint8_t>& bits, size_t from) {
    uint32_t value = 0;
    for (size_t i = 0; i < 32 && from + i < bits.size(); ++i)
        value |= uint32_t{bits[from + i]} << i;
    return value;
}

class SpiBridgeTest : public DevalgTest {
  protected:
    // Configures a bridge design into the FPGA at index, with the echo bridge behind its USER
    // registers, runs SpiSetup and starts recording the scans.
    DevAlgModule* bridge(std::initializer_list<const char*> parts, int index,
                         const std::string& bit) {
        DevAlgModule* m = bind(parts, index, bit);
        fpga()->set_bscan_user(bridge_);
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().design().spi_bridge);
        for (int i = index + 1; i < chain_count(m->chain); ++i) {
            fpga_ir_ += device_part(chain_get_device(m->chain, i))->ir_length;
        }
        after_ = chain_count(m->chain) - index - 1;
        EXPECT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 1), JTAG_OK);
        cable().record_shifts = true;
        return m;
    }
    int txrx(const uint8_t* send, uint8_t* receive, int w, int r, int write_only = 0) {
        DevAlgModule* m = module_.get();
        return devalg_entry<DevAlgTxrxFn>(m, DEVALG_SPI_TXRX)(m, send, receive, w, r, write_only);
    }
    // Headers (skip, end) sent through USER2 and lengths of the USER1 scans since the last call.
    std::vector<uint32_t> frames() {
        std::vector<uint32_t> seen;
        uint32_t user = 0;
        for (const SimCableState::Shift& s : cable().shifts) {
            if (s.kind == 1)
                user = field(s.tdi, fpga_ir_) & 0x3F;
            else if (user == 3)
                seen.insert(seen.end(), {field(s.tdi, after_ + 8), field(s.tdi, after_ + 40)});
            else if (user == 2)
                seen.push_back(static_cast<uint32_t>(s.tdi.size()));
        }
        cable().shifts.clear();
        return seen;
    }

    std::shared_ptr<EchoBridge> bridge_ = std::make_shared<EchoBridge>();
    size_t fpga_ir_ = 0;  // the FPGA's instruction bits follow those of the devices behind it
    size_t after_ = 0;
};

TEST_F(SpiBridgeTest, ShippedSpartan6BridgeAnswersAndEchoes) {
    DevAlgModule* m = bridge({"XC6SLX16"}, 0, "spi_xc6slx16.bit");
    uint8_t descriptor[20];
    std::memset(descriptor, 0xEE, sizeof descriptor);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 20, descriptor), JTAG_OK);
    EXPECT_EQ(std::memcmp(descriptor, "NORVALE JSPI1.0", 16), 0);
    EXPECT_EQ(descriptor[16], 0xEE) << "never more than the 16 descriptor bytes";

    // The descriptor read left a zero header in the bridge: the next frame sends its own.
    frames();
    const uint8_t status[2] = {0x05, 0xA5};
    uint8_t got = 0;
    EXPECT_EQ(txrx(status, &got, 1, 1), JTAG_OK);
    EXPECT_EQ(got, 0xA5);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{0, 16, 17}));
    const uint8_t enable[4] = {0x06, 1, 2, 3};
    EXPECT_EQ(txrx(enable, nullptr, 4, 0), JTAG_OK);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{0, 32, 33}));

    // Two pages of the same size share one header.
    std::vector<uint8_t> page(260), back(256);
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7 + 3);
    EXPECT_EQ(txrx(page.data(), back.data(), 4, 256), JTAG_OK);
    EXPECT_EQ(txrx(page.data(), back.data(), 4, 256), JTAG_OK);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{0, 2080, 2081, 2081}));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), page.begin() + 4));
    ASSERT_EQ(bridge_->transactions.size(), 4u);
    EXPECT_EQ(bridge_->transactions[3], page);
}

TEST_F(SpiBridgeTest, Series7FramesWithDevicesAroundTheFpga) {
    sim::BitgenOptions options;
    options.spi_bridge = true;
    const uint8_t send[3] = {0x9F, 0x3C, 0xC3};
    uint8_t got[2] = {};
    // Zynq PL behind the DAP: one more bit to skip; register 16 + after + 3 bits, plus the DAP's.
    bridge({"ARM_DAP", "XC7Z020"}, 1, bit_file("XC7Z020", options));
    EXPECT_EQ(txrx(send, got, 1, 1), JTAG_OK);
    EXPECT_EQ(got[0], 0x3C);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{1, 17, 16 + 3 + 1}));
    EXPECT_EQ(bridge_->transactions.back(), std::vector<uint8_t>(send, send + 2));

    // A device after the FPGA: its bypass bit is skipped.
    bridge_ = std::make_shared<EchoBridge>();
    fpga_ir_ = 0;
    bridge({"XC7A100T", "ARM_DAP"}, 0, bit_file("XC7A100T", options));
    EXPECT_EQ(txrx(send, got, 1, 2), JTAG_OK);
    EXPECT_EQ(got[0], 0x3C);
    EXPECT_EQ(got[1], 0xC3);
    EXPECT_EQ(frames(), (std::vector<uint32_t>{1, 25, 24 + 2 + 1}));
}

TEST_F(SpiBridgeTest, WriteOnlyFramesAndRefusedArguments) {
    DevAlgModule* m = bridge({"XC7S50"}, 0, "spi_xc7s50.bit");
    const uint8_t program[5] = {0x02, 0x00, 0x01, 0x00, 0x5A};
    EXPECT_EQ(txrx(program, nullptr, 5, 0, 1), JTAG_OK);
    EXPECT_EQ(chain_settings(m->chain)->flush, 0) << "left off after a write-only frame";
    EXPECT_EQ(chain_settings(m->chain)->bulk, 0);
    EXPECT_EQ(bridge_->transactions.back(), std::vector<uint8_t>(program, program + 5));

    frames();
    uint8_t got[4] = {};
    EXPECT_EQ(txrx(program, got, -1, 2), JTAG_FAIL);
    EXPECT_EQ(txrx(program, got, 1, -2), JTAG_FAIL);
    EXPECT_EQ(txrx(program, got, 0x7FFFFFFF, 0x7FFFFFFF), JTAG_FAIL);
    EXPECT_EQ(txrx(program, nullptr, 1, 1), JTAG_NULL);
    EXPECT_EQ(txrx(nullptr, got, 1, 1), JTAG_NULL);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 4, nullptr), JTAG_NULL);
    EXPECT_TRUE(cable().shifts.empty()) << "refused frames shift nothing";
}

}  // namespace
}  // namespace vireo::test
