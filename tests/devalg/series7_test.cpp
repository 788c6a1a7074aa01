#include "devalg_fixture.h"
#include "scripted_fpga.h"

namespace vireo::test {
namespace {

using Series7Test = DevalgTest;

const std::string kSuccess = "デバイス書き込み成功。起動します。\n";
const std::string kIdError = "デバイス書き込みで、ID エラー が発生しました\n";
const std::string kCrcError = "デバイス書き込みで、CRC エラー が発生しました\n";

TEST_F(Series7Test, EveryPartConfiguresFromAFullImage) {
    for (const char* part : {"XC7S50", "XC7A100T", "XC7A200T", "XC7K160T", "XC7Z020"}) {
        SCOPED_TRACE(part);
        const bool zynq = std::string(part) == "XC7Z020";  // PL behind the ARM DAP
        const std::string path = bit_file(part);
        zynq ? bind({"ARM_DAP", part}, 1, path) : bind({part}, 0, path);
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
        EXPECT_EQ(printed(), kSuccess);
    }
}

TEST_F(Series7Test, FaultyImagesAreReportedInTheLogOnly) {
    sim::BitgenOptions crc, id;
    crc.bad_crc = true;
    id.wrong_idcode = true;
    for (const auto& [options, message] : {std::pair{crc, kCrcError}, std::pair{id, kIdError}}) {
        bind({"XC7A100T"}, 0, bit_file("XC7A100T", options));
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_FALSE(fpga()->engine().done());
        EXPECT_EQ(printed().rfind(message, 0), 0u) << printed();
        EXPECT_EQ(printed().find(kSuccess), std::string::npos);
    }
}

TEST_F(Series7Test, StatusWordsAreReadMostSignificantBitFirst) {
    // Boot status with bits 3-7 set; status with bit 12 set and bits 11 and 7 clear.
    auto b = std::make_unique<sim::TapChain>();
    b->add(std::make_unique<ScriptedFpga>(0x03631093, std::deque<uint32_t>{0xF8, 0x1000}));
    ASSERT_EQ(chain_detect(open(std::move(b))), 1);
    bind(chain_.get(), 0, bit_file("XC7A100T"));
    printed().clear();
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
    EXPECT_EQ(
        printed(),
        "デバイス書き込みで、ウォッチドッグのタイムアウトエラー が発生しました\n" + kIdError +
            kCrcError +
            "デバイス書き込みで、BPI アドレスカ ウ ン ターのラップアラウンドエラー が発生しました\n"
            "デバイス書き込みで、その他のエラー が発生しました\n"
            "デバイス書き込みで、初期化が完了しないため、失敗しました\n"
            "デバイス書き込みで、インターコネクトがハイインピーダンスのままのため、失敗しました\n");
}

TEST_F(Series7Test, ImageOneByteOverTheBufferIsRefused) {
    const std::string path = raw_bit_file("over.bit", std::vector<uint8_t>(4194305, 0xFF));
    bind({"XC7A100T"}, 0, path);
    printed().clear();
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_FILE_OPEN);
    EXPECT_EQ(printed(), "Input file '" + path + "' exceeds device size.Bit file format error\n");
    EXPECT_EQ(stored_status(), JTAG_FILE_OPEN);
}

}  // namespace
}  // namespace vireo::test
