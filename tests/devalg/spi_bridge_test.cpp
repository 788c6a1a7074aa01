#include <cstring>
#include <memory>

#include "devalg_fixture.h"
#include "echo_bridge.h"
#include "jtag/status.h"

namespace vireo::test {
namespace {

constexpr uint32_t kUser1 = 2;
constexpr uint32_t kUser2 = 3;

uint32_t field(const std::vector<uint8_t>& bits, size_t from, int n) {
    uint32_t value = 0;
    for (int i = 0; i < n && from + i < bits.size(); ++i) value |= uint32_t{bits[from + i]} << i;
    return value;
}

// What the chain sent to the FPGA's USER registers, read from the recorded scans.
struct Frames {
    struct Header {
        uint32_t skip, end;
    };
    std::vector<Header> headers;
    std::vector<size_t> data_lengths;  // whole-chain scans through USER1
};

class SpiBridgeTest : public DevalgTest {
protected:
    // Configures the bridge design into the FPGA at index of a detected chain, with the echo
    // bridge behind its USER registers, and runs SpiSetup.
    BindingPtr bridge(std::initializer_list<const char*> parts, int index, const std::string& bit) {
        Chain* chain = detected(parts);
        bridge_ = std::make_shared<EchoBridge>();
        fpga()->set_bscan_user(bridge_);
        BindingPtr module = bind(chain, index, bit);
        EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().design().spi_bridge);
        fpga_ir_ = 0;  // the FPGA's instruction bits sit after those of the devices behind it
        for (int i = index + 1; i < chain_count(chain); ++i) {
            fpga_ir_ += device_part(chain_get_device(chain, i))->ir_length;
        }
        after_ = chain_count(chain) - index - 1;
        setup_ = devalg_entry<DevAlgSetupFn>(module.get(), DEVALG_SPI_SETUP);
        txrx_ = devalg_entry<DevAlgTxrxFn>(module.get(), DEVALG_SPI_TXRX);
        descr_ = devalg_entry<DevAlgDescrFn>(module.get(), DEVALG_SPI_DESCR);
        EXPECT_EQ(setup_(module.get(), 1), JTAG_OK);
        cable_state().record_shifts = true;
        return module;
    }

    Frames frames() {
        Frames f;
        uint32_t user = 0;
        for (const SimCableState::Shift& s : cable_state().shifts) {
            if (s.kind == 1) {
                user = field(s.tdi, fpga_ir_, 6);
            } else if (user == kUser2) {
                f.headers.push_back({field(s.tdi, after_ + 8, 32), field(s.tdi, after_ + 40, 32)});
            } else if (user == kUser1) {
                f.data_lengths.push_back(s.tdi.size());
            }
        }
        cable_state().shifts.clear();
        return f;
    }

    std::shared_ptr<EchoBridge> bridge_;
    size_t fpga_ir_ = 0;
    size_t after_ = 0;
    DevAlgSetupFn setup_ = nullptr;
    DevAlgTxrxFn txrx_ = nullptr;
    DevAlgDescrFn descr_ = nullptr;
};

TEST_F(SpiBridgeTest, ShippedSpartan6BridgeAnswersAndEchoes) {
    BindingPtr m = bridge({"XC6SLX16"}, 0, "spi_xc6slx16.bit");
    uint8_t descriptor[20];
    std::memset(descriptor, 0xEE, sizeof descriptor);
    EXPECT_EQ(descr_(m.get(), 20, descriptor), JTAG_OK);
    EXPECT_EQ(std::memcmp(descriptor, "NORVALE JSPI1.0", 16), 0);
    EXPECT_EQ(descriptor[16], 0xEE) << "never more than the 16 descriptor bytes";

    // The header written by the descriptor read is all zero: the next frame sends its own.
    const uint8_t status[2] = {0x05, 0xA5};
    uint8_t got = 0;
    frames();
    EXPECT_EQ(txrx_(m.get(), status, &got, 1, 1, 0), JTAG_OK);
    EXPECT_EQ(got, 0xA5);
    Frames f = frames();
    ASSERT_EQ(f.headers.size(), 1u);
    EXPECT_EQ(f.headers[0].skip, 0u);
    EXPECT_EQ(f.headers[0].end, 16u);
    EXPECT_EQ(f.data_lengths, std::vector<size_t>{17});

    const uint8_t enable[4] = {0x06, 0x01, 0x02, 0x03};
    EXPECT_EQ(txrx_(m.get(), enable, nullptr, 4, 0, 0), JTAG_OK);
    f = frames();
    ASSERT_EQ(f.headers.size(), 1u);
    EXPECT_EQ(f.headers[0].skip, 0u);
    EXPECT_EQ(f.headers[0].end, 32u);
    EXPECT_EQ(f.data_lengths, std::vector<size_t>{33});

    // Two pages of the same size share one header.
    std::vector<uint8_t> page(260), back(256);
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7);
    page[0] = 0x03;
    EXPECT_EQ(txrx_(m.get(), page.data(), back.data(), 4, 256, 0), JTAG_OK);
    EXPECT_EQ(txrx_(m.get(), page.data(), back.data(), 4, 256, 0), JTAG_OK);
    f = frames();
    EXPECT_EQ(f.headers.size(), 1u);
    EXPECT_EQ(f.data_lengths.size(), 2u);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), page.begin() + 4));
    ASSERT_EQ(bridge_->transactions.size(), 4u);
    EXPECT_EQ(bridge_->transactions[1], std::vector<uint8_t>(enable, enable + 4));
    EXPECT_EQ(bridge_->transactions[3], page);
}

TEST_F(SpiBridgeTest, Series7FramesBehindTheZynqDap) {
    sim::BitgenOptions options;
    options.spi_bridge = true;
    BindingPtr m = bridge({"ARM_DAP", "XC7Z020"}, 1, bit_file("XC7Z020", options));
    const uint8_t send[2] = {0x9F, 0x3C};
    uint8_t got = 0;
    EXPECT_EQ(txrx_(m.get(), send, &got, 1, 1, 0), JTAG_OK);
    EXPECT_EQ(got, 0x3C);
    Frames f = frames();
    ASSERT_EQ(f.headers.size(), 1u);
    EXPECT_EQ(f.headers[0].skip, 1u) << "after 0, one more for the device before the FPGA";
    EXPECT_EQ(f.headers[0].end, 17u);
    // The FPGA's register is 16 + after + 3 bits; the DAP adds its bypass bit.
    EXPECT_EQ(f.data_lengths, std::vector<size_t>{16 + 3 + 1});
    ASSERT_EQ(bridge_->transactions.size(), 1u);
    EXPECT_EQ(bridge_->transactions[0], std::vector<uint8_t>(send, send + 2));
}

TEST_F(SpiBridgeTest, Series7FramesWithADeviceAfterTheFpga) {
    sim::BitgenOptions options;
    options.spi_bridge = true;
    BindingPtr m = bridge({"XC7A100T", "ARM_DAP"}, 0, bit_file("XC7A100T", options));
    const uint8_t send[3] = {0x0B, 0x81, 0x7E};
    uint8_t got[2] = {};
    EXPECT_EQ(txrx_(m.get(), send, got, 1, 2, 0), JTAG_OK);
    EXPECT_EQ(got[0], 0x81);
    EXPECT_EQ(got[1], 0x7E);
    Frames f = frames();
    ASSERT_EQ(f.headers.size(), 1u);
    EXPECT_EQ(f.headers[0].skip, 1u) << "the bypass bit of the device after the FPGA";
    EXPECT_EQ(f.headers[0].end, 25u);
    EXPECT_EQ(f.data_lengths, std::vector<size_t>{24 + 2 + 1});
}

TEST_F(SpiBridgeTest, WriteOnlyFramesAndRefusedArguments) {
    BindingPtr m = bridge({"XC7S50"}, 0, "spi_xc7s50.bit");
    ChainSettings* settings = chain_settings(m->chain);
    const uint8_t program[5] = {0x02, 0x00, 0x01, 0x00, 0x5A};
    EXPECT_EQ(txrx_(m.get(), program, nullptr, 5, 0, 1), JTAG_OK);
    EXPECT_EQ(settings->flush, 0) << "left off after a write-only frame";
    EXPECT_EQ(settings->bulk, 0);
    ASSERT_EQ(bridge_->transactions.size(), 1u);
    EXPECT_EQ(bridge_->transactions[0], std::vector<uint8_t>(program, program + 5));

    frames();
    uint8_t got[4] = {};
    EXPECT_EQ(txrx_(m.get(), program, got, -1, 2, 0), JTAG_FAIL);
    EXPECT_EQ(txrx_(m.get(), program, got, 1, -2, 0), JTAG_FAIL);
    EXPECT_EQ(txrx_(m.get(), program, got, 0x7FFFFFFF, 0x7FFFFFFF, 0), JTAG_FAIL);
    EXPECT_EQ(txrx_(m.get(), program, nullptr, 1, 1, 0), JTAG_NULL);
    EXPECT_EQ(txrx_(m.get(), nullptr, got, 1, 1, 0), JTAG_NULL);
    EXPECT_EQ(descr_(m.get(), 4, nullptr), JTAG_NULL);
    EXPECT_TRUE(cable_state().shifts.empty()) << "refused frames shift nothing";
}

}  // namespace
}  // namespace vireo::test
