#include <cstring>

#include "devalg_fixture.h"
#include "sim/spi_flash.h"

namespace vireo::test {
namespace {

// The bridge design as the FPGA loads it, with a flash model behind it, driven by the modules'
// own SPI entries.
class SpiFlashBridgeTest : public DevalgTest {
  protected:
    DevAlgModule* open_bridge(std::initializer_list<const char*> parts, int index, const char* part,
                              const char* flash) {
        sim::BitgenOptions options;
        options.spi_bridge = true;
        DevAlgModule* m = bind(parts, index, bit_file(part, options));
        fpga()->set_flash(sim::make_spi_flash(*sim::find_flash_part(flash)));
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 1), JTAG_OK);
        return m;
    }
    std::vector<uint8_t> txrx(std::vector<uint8_t> send, int r) {
        DevAlgModule* m = module_.get();
        const int w = static_cast<int>(send.size());
        send.resize(send.size() + static_cast<size_t>(r), 0);
        std::vector<uint8_t> got(static_cast<size_t>(r), 0xEE);
        EXPECT_EQ(
            devalg_entry<DevAlgTxrxFn>(m, DEVALG_SPI_TXRX)(m, send.data(), got.data(), w, r, 0),
            JTAG_OK);
        return got;
    }
    std::string descriptor() {
        DevAlgModule* m = module_.get();
        char text[16] = {};
        devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 16, reinterpret_cast<uint8_t*>(text));
        return std::string(text, strnlen(text, sizeof text));
    }
    // Polls the status register until the busy bit clears; the number of reads, or -1.
    int wait_ready(int limit = 100000) {
        for (int reads = 1; reads <= limit; ++reads)
            if ((txrx({0x05}, 1)[0] & 1) == 0) return reads;
        return -1;
    }
};

TEST_F(SpiFlashBridgeTest, WithoutTheBridgeDesignNothingAnswers) {
    DevAlgModule* m = bind({"XC7A100T"}, 0, bit_file("XC7A100T"));
    fpga()->set_flash(sim::make_spi_flash(*sim::find_flash_part("N25Q128")));
    ASSERT_EQ(call(DEVALG_WRITE), JTAG_OK);
    ASSERT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 1), JTAG_OK);
    EXPECT_EQ(descriptor(), "");
    EXPECT_EQ(txrx({0x9F}, 3), (std::vector<uint8_t>{0, 0, 0}));
}

TEST_F(SpiFlashBridgeTest, JprogramTakesTheBridgeAway) {
    open_bridge({"XC7A100T"}, 0, "XC7A100T", "N25Q128");
    EXPECT_EQ(descriptor(), "NORVALE JSPI1.0");
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_OK);
    EXPECT_EQ(descriptor(), "");
}

TEST_F(SpiFlashBridgeTest, IdentificationOnEveryChainShape) {
    open_bridge({"XC7A100T"}, 0, "XC7A100T", "N25Q128");
    EXPECT_EQ(descriptor(), "NORVALE JSPI1.0");
    EXPECT_EQ(txrx({0x9F}, 6), (std::vector<uint8_t>{0x20, 0xBA, 0x18, 0x10, 0x00, 0x00}));

    open_bridge({"ARM_DAP", "XC7Z020"}, 1, "XC7Z020", "W25Q128FV");
    EXPECT_EQ(descriptor(), "NORVALE JSPI1.0");
    EXPECT_EQ(txrx({0x9F}, 3), (std::vector<uint8_t>{0xEF, 0x60, 0x18}));

    open_bridge({"XC7A100T", "ARM_DAP"}, 0, "XC7A100T", "M25P128");
    EXPECT_EQ(txrx({0x9F}, 3), (std::vector<uint8_t>{0x20, 0x20, 0x18}));

    open_bridge({"XC6SLX45"}, 0, "XC6SLX45", "W25Q64BV");
    EXPECT_EQ(txrx({0x9F}, 3), (std::vector<uint8_t>{0xEF, 0x40, 0x17}));
    EXPECT_EQ(txrx({0x77}, 2), (std::vector<uint8_t>{0xFF, 0xFF})) << "unknown opcode";
}

TEST_F(SpiFlashBridgeTest, ProgramEraseAndReadBackThroughTheModule) {
    open_bridge({"ARM_DAP", "XC7Z020"}, 1, "XC7Z020", "W25Q128FV");
    std::vector<uint8_t> page = {0x02, 0x01, 0x00, 0x00};
    for (int i = 0; i < 256; ++i) page.push_back(static_cast<uint8_t>(i ^ 0x5A));

    // Without WREN the page program is ignored.
    txrx(page, 0);
    EXPECT_EQ(txrx({0x0B, 0x01, 0x00, 0x00, 0x00}, 4), (std::vector<uint8_t>(4, 0xFF)));

    txrx({0x06}, 0);
    EXPECT_EQ(txrx({0x05}, 1)[0], 0x02) << "WEL";
    txrx(page, 0);
    EXPECT_EQ(txrx({0x05}, 1)[0] & 0x03, 0x03) << "busy, WEL held until the cycle ends";
    EXPECT_EQ(txrx({0x9F}, 3), (std::vector<uint8_t>(3, 0xFF))) << "ignored while busy";
    const int reads = wait_ready();
    EXPECT_GT(reads, 1);
    EXPECT_NE(reads, -1);
    EXPECT_EQ(txrx({0x05}, 1)[0], 0x00);
    const std::vector<uint8_t> back = txrx({0x0B, 0x01, 0x00, 0x00, 0x00}, 256);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), page.begin() + 4));

    txrx({0x06}, 0);
    txrx({0x20, 0x01, 0x00, 0x80}, 0);  // 4 KB erase, address anywhere inside
    EXPECT_NE(wait_ready(), -1);
    EXPECT_EQ(txrx({0x03, 0x01, 0x00, 0x00}, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

}  // namespace
}  // namespace vireo::test
