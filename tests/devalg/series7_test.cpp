#include "devalg_fixture.h"
#include "jtag/status.h"
#include "scripted_fpga.h"

namespace vireo::test {
namespace {

using Series7Test = DevalgTest;

constexpr const char* kSuccess = "デバイス書き込み成功。起動します。\n";
constexpr const char* kIdError = "デバイス書き込みで、ID エラー が発生しました\n";
constexpr const char* kCrcError = "デバイス書き込みで、CRC エラー が発生しました\n";

TEST_F(Series7Test, EveryPartConfiguresFromAFullImage) {
    struct Board {
        std::initializer_list<const char*> parts;
        int index;
    };
    for (const Board& b : {Board{{"XC7S50"}, 0}, Board{{"XC7A100T"}, 0}, Board{{"XC7A200T"}, 0},
                           Board{{"XC7K160T"}, 0}, Board{{"ARM_DAP", "XC7Z020"}, 1}}) {
        const char* part = b.parts.begin()[b.index];
        SCOPED_TRACE(part);
        Chain* chain = detected(b.parts);
        printed().clear();
        BindingPtr module = bind(chain, b.index, bit_file(part));
        ASSERT_TRUE(module && module->state);
        EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
        EXPECT_EQ(printed(), kSuccess);
        EXPECT_EQ(progress_log().back(), Progress(0, 0, ""));
    }
}

TEST_F(Series7Test, FaultyImagesAreReportedInTheLogOnly) {
    struct Case {
        bool crc, id;
        const char* message;
    };
    for (const Case& c : {Case{true, false, kCrcError}, Case{false, true, kIdError}}) {
        SCOPED_TRACE(c.message);
        Chain* chain = detected({"XC7A100T"});
        sim::BitgenOptions options;
        options.bad_crc = c.crc;
        options.wrong_idcode = c.id;
        BindingPtr module = bind(chain, 0, bit_file("XC7A100T", options));
        printed().clear();
        EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK) << "the verdict is log only";
        EXPECT_FALSE(fpga()->engine().done());
        EXPECT_EQ(printed().rfind(c.message, 0), 0u) << printed();
        EXPECT_EQ(printed().find(kSuccess), std::string::npos);
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
    }
}

TEST_F(Series7Test, StatusWordsAreReadMostSignificantBitFirst) {
    // Boot status with bits 3-7 set; status with bit 12 set and bits 11 and 7 clear.
    Chain* chain = open([] {
        auto b = std::make_unique<sim::TapChain>(30'000'000);
        b->add(std::make_unique<ScriptedFpga>(0x03631093, std::deque<uint32_t>{0xF8, 0x1000}));
        return b;
    }());
    ASSERT_EQ(chain_detect(chain), 1);
    BindingPtr module = bind(chain, 0, bit_file("XC7A100T"));
    printed().clear();
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
    EXPECT_EQ(printed(),
              "デバイス書き込みで、ウォッチドッグのタイムアウトエラー が発生しました\n"
              "デバイス書き込みで、ID エラー が発生しました\n"
              "デバイス書き込みで、CRC エラー が発生しました\n"
              "デバイス書き込みで、BPI アドレスカ ウ ン ターのラップアラウンドエラー が発生しました\n"
              "デバイス書き込みで、その他のエラー が発生しました\n"
              "デバイス書き込みで、初期化が完了しないため、失敗しました\n"
              "デバイス書き込みで、インターコネクトがハイインピーダンスのままのため、失敗しました\n");
}

TEST_F(Series7Test, ImageOneByteOverTheBufferIsRefused) {
    Chain* chain = detected({"XC7A100T"});
    const std::string path = raw_bit_file("over.bit", std::vector<uint8_t>(4194305, 0xFF));
    BindingPtr module = bind(chain, 0, path);
    printed().clear();
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_FILE_OPEN);
    EXPECT_EQ(printed(), "Input file '" + path + "' exceeds device size.Bit file format error\n");
    EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->status, JTAG_FILE_OPEN);
    EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass) << "left by the chain check";
}

TEST_F(Series7Test, ShutdownClearsAConfiguredFpga) {
    Chain* chain = detected({"XC7S50"});
    BindingPtr module = bind(chain, 0, bit_file("XC7S50"));
    ASSERT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
    ASSERT_TRUE(fpga()->engine().done());
    progress_log().clear();
    EXPECT_EQ(devalg_call(module.get(), DEVALG_SHUTDOWN), JTAG_OK);
    EXPECT_FALSE(fpga()->engine().done());
    EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
    EXPECT_EQ(progress_log(), std::vector<Progress>{Progress(0, 0, "")});
    EXPECT_FALSE(chain_is_locked(chain));
}

}  // namespace
}  // namespace vireo::test
