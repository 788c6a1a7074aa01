// Binding by IDCODE, entry calls under the chain lock, and Write, Shutdown and Cancel of both
// families against the virtual FPGAs.
#include "devalg/sequence.h"
#include "devalg_fixture.h"
#include "jtag/opflag.h"
#include "sim/tap_device.h"

namespace vireo::test {
namespace {

TEST_F(DevalgTest, BindingByIdcodeAndCallsUnderTheChainLock) {
    Chain* chain = detected({"ARM_DAP", "XC6SLX45"});
    EXPECT_EQ(jtag_bind_algorithm(chain, 0), nullptr);
    EXPECT_EQ(printed(), "") << "no rule matches: silent";
    ASSERT_EQ(device_set_idcode(chain_get_device(chain, 1), 0x34008093), 1) << "revision 3";
    DevAlgModule* m = bind(chain, 1);
    ASSERT_TRUE(m && m->state);

    cable().lock_requests.clear();
    EXPECT_EQ(call(5), JTAG_UNSUPPORTED);
    EXPECT_EQ(call(DEVALG_SPI_TXRX), JTAG_UNSUPPORTED) << "needs more than the binding";
    EXPECT_FALSE(chain_is_locked(chain));
    EXPECT_EQ(call(DEVALG_CANCEL), JTAG_OK);
    EXPECT_EQ(cable().lock_requests, (std::vector<int>{1, 0, 1, 0, 1, 0}))
        << "the lock is taken and released around a missing entry too";
    chain_lock(chain);
    cable().lock_requests.clear();
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_LOCKED);
    EXPECT_TRUE(cable().lock_requests.empty()) << "nothing called";
    chain_unlock(chain);

    // A binding the devopt holds goes with it, state and all (the sanitizer build checks).
    module_.reset();
    Devopt* devopt = device_devopt(chain_get_device(chain, 1));
    devopt->algorithm = devalg_bind_device(chain, 1);
    devopt->algorithm_release = devalg_close;
    ASSERT_TRUE(devopt->algorithm && devopt->algorithm->state);
    chain_.reset();
}

TEST_F(DevalgTest, EntriesWithoutStateOrSelectionDoNothing) {
    Chain* chain = detected({"XC7A35T"});
    Device* device = chain_get_device(chain, 0);
    ASSERT_EQ(device_set_idcode(device, 0x06C00093), 1);  // a family without a module
    EXPECT_EQ(devalg_bind_device(chain, 0), nullptr);
    ASSERT_EQ(device_set_idcode(device, 0x04005093), 1);  // Spartan-6 outside the table
    ASSERT_TRUE(bind(chain, 0, "x.bit"));
    EXPECT_EQ(module_->state, nullptr);
    EXPECT_EQ(printed(),
              "No device infomation is found\n不明なデバイス\n"
              "Some error has occured in initialization of device \n");
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_NULL);

    // An unselected XC7A100T (revision 2; its open names the IDCODE on standard output).
    ASSERT_EQ(device_set_idcode(device, 0x23631093), 1);
    testing::internal::CaptureStdout();
    DevAlgModule* m = bind(chain, 0, bit_file("XC7A100T"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "idcode=23631093\n");
    m->devopt->selected = 0;
    const int64_t transfers = cable().transfers;
    uint8_t buffer[16] = {};
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_FAIL);
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 0), JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgTxrxFn>(m, DEVALG_SPI_TXRX)(m, buffer, buffer, 1, 1, 0),
              JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 16, buffer), JTAG_FAIL);
    EXPECT_EQ(cable().transfers, transfers);
    EXPECT_EQ(m->devopt->status, JTAG_OK) << "0 is not stored";
}

TEST_F(DevalgTest, RefusedImagesLeaveTheFpgaAlone) {
    const std::vector<uint8_t> image(2049, 0x5A);
    const std::string cut = raw_bit_file("cut.bit", image);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) - 100);
    const std::string over = raw_bit_file("over.bit", std::vector<uint8_t>(4194305, 0xFF));
    const std::string exceeds = "' exceeds device size.Bit file format error\n";
    const struct {
        const char* part;
        std::string path, message;
    } refused[] = {{"XC6SLX4", raw_bit_file("image.bin", image), "Not bitstream file.\n"},
                   {"XC6SLX4", raw_bit_file("no_dot", image), "Bit file format error\n"},
                   {"XC6SLX4", cut, "Input file '" + cut + exceeds},
                   {"XC7A100T", over, "Input file '" + over + exceeds}};
    for (const auto& [part, path, message] : refused) {
        SCOPED_TRACE(path);
        bind({part}, 0, path);
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_FILE_OPEN);
        EXPECT_EQ(printed(), message);
        EXPECT_EQ(module_->devopt->status, JTAG_FILE_OPEN);
        EXPECT_EQ(std::ranges::count(cable().labels, std::string("jprogram")), 0);
    }

    // The chain believes in an XC6SLX16: the identity check stops Write and Shutdown.
    module_.reset();  // before the chain it points into
    Chain* chain = detected({"XC6SLX4"});
    ASSERT_EQ(device_set_part(chain_get_device(chain, 0), "XC6SLX16"), 1);
    bind(chain, 0, bit_file("XC6SLX4"));
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_CHECK_DEVICES);
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_CHECK_DEVICES);
    EXPECT_EQ(module_->devopt->status, JTAG_CHECK_DEVICES);
    EXPECT_EQ(std::ranges::count(cable().labels, std::string("jprogram")), 0);
}

const std::string kSuccess = "デバイス書き込み成功。起動します。\n";

TEST_F(DevalgTest, EveryPartConfiguresFromAFullImageAndShutsDown) {
    for (const std::string part :
         {"XC6SLX4", "XC6SLX9", "XC6SLX16", "XC6SLX25", "XC6SLX25T", "XC6SLX45", "XC6SLX45T",
          "XC6SLX75", "XC6SLX75T", "XC6SLX100", "XC6SLX100T", "XC6SLX150", "XC6SLX150T", "XC7S50",
          "XC7A100T", "XC7A200T", "XC7K160T", "XC7Z020"}) {
        SCOPED_TRACE(part);  // the Zynq PL sits behind its ARM DAP
        part == "XC7Z020" ? bind({"ARM_DAP", "XC7Z020"}, 1, bit_file(part))
                          : bind({part.c_str()}, 0, bit_file(part));
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
        EXPECT_EQ(cable().lock_requests.back(), 0) << "cable lock released";
        EXPECT_EQ(printed(), part.starts_with("XC6") ? "" : kSuccess) << "Spartan-6 is not judged";
        EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_OK);
        EXPECT_FALSE(fpga()->engine().done());
    }
}

TEST_F(DevalgTest, Spartan6CancelThenWriteInPieces) {
    bind({"XC6SLX9"}, 0, bit_file("XC6SLX9"));
    g_on_progress = [this](int current) {
        EXPECT_TRUE(chain_is_locked(module_->chain)) << "held through the identity check";
        if (current == 3 * 16384)
            devalg_entry<DevAlgStatusFn>(module_.get(), DEVALG_CANCEL)(module_.get());
    };
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_CANCELLED);
    ASSERT_GE(g_progress.size(), 2u);
    EXPECT_EQ(std::get<0>(g_progress.end()[-2]), 3 * 16384) << "the piece under way was the last";
    EXPECT_FALSE(fpga()->engine().done());
    EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
    EXPECT_EQ(module_->devopt->status, JTAG_CANCELLED);
    EXPECT_EQ(cable().lock_requests.back(), 0);

    // The next Write runs whole: 2049 bytes go in two pieces, any case of extension; the FPGA
    // reads them as noise and does not start, which the read-back shows.
    g_on_progress = nullptr;
    g_progress.clear();
    printed().clear();
    module_->devopt->file_path = raw_bit_file("SMALL.BIT", std::vector<uint8_t>(2049, 0x5A));
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_PROGRAMMING);
    EXPECT_NE(printed().find("DONE did not go high"), std::string::npos) << printed();
    const std::string p = "Programming FPGA";
    EXPECT_EQ(g_progress,
              (std::vector<Progress>{
                  {1, 2, p}, {1, 2, p}, {16384, 16392, p}, {16392, 16392, p}, {0, 0, ""}}));
}

TEST_F(DevalgTest, Spartan6PadBringsTheBypassBitsToAWordBoundary) {
    EXPECT_EQ(chain_pad(1), 0);
    EXPECT_EQ(chain_pad(2), 31);
    EXPECT_EQ(chain_pad(33), 0);
    // 32 devices before the FPGA: block A goes out unpadded and the image still arrives.
    auto b = std::make_unique<sim::TapChain>(30'000'000);
    for (int i = 0; i < 32; ++i) b->add(std::make_unique<sim::ArmDap>());
    b->add(std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part("XC6SLX4")));
    ASSERT_EQ(chain_detect(open(std::move(b))), 1);
    bind(chain_.get(), 32, bit_file("XC6SLX4"));
    cable().record_shifts = true;
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());
    const auto& shifts = cable().shifts;
    const auto cfg_in = std::find_if(shifts.begin(), shifts.end(),
                                     [](const auto& s) { return s.label == "cfg_in"; });
    ASSERT_LT(cfg_in + 1, shifts.end());
    ASSERT_EQ(cfg_in[1].tdi.size(), 192u + 32u);
    EXPECT_EQ(std::count(cfg_in[1].tdi.begin(), cfg_in[1].tdi.begin() + 32, 1), 32)
        << "the dummy word leaves first";
}

// An XC7A100T TAP whose CFG_OUT answers 0x1000 (INIT_B set, INIT_COMPLETE, GHIGH_B, DONE clear),
// most significant bit first. Every instruction but IDCODE and CFG_OUT selects a one-bit stage.
class ScriptedFpga final : public sim::TapDevice {
  public:
    std::string name() const override { return "SCRIPTED"; }
    int ir_length() const override { return 6; }
    void reset() override { ir_ = 0x09; }
    uint64_t ir_capture() override { return 0b010001; }  // INIT high, DONE low
    void ir_update(uint64_t instruction) override { ir_ = instruction; }
    void dr_capture() override {
        reg_ = sim::ShiftRegister(ir_ == 0x04 || ir_ == 0x09 ? 32 : 1);
        reg_.load(ir_ == 0x04 ? 0x00080000 : ir_ == 0x09 ? 0x03631093 : 0);
    }
    void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t n) override { reg_.shift(tdi, tdo, n); }
    void dr_update() override {}

  private:
    uint64_t ir_ = 0x09;
    sim::ShiftRegister reg_{32};
};

TEST_F(DevalgTest, Series7VerdictsDecideTheResult) {
    sim::BitgenOptions crc, id;
    crc.bad_crc = true;
    id.wrong_idcode = true;
    for (const auto& [options, error] : {std::pair{crc, "CRC"}, std::pair{id, "ID"}}) {
        bind({"XC7A100T"}, 0, bit_file("XC7A100T", options));
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_PROGRAMMING);
        EXPECT_EQ(module_->devopt->status, JTAG_PROGRAMMING);
        EXPECT_FALSE(fpga()->engine().done());
        EXPECT_TRUE(printed().starts_with(std::string("デバイス書き込みで、") + error + " エラー"));
        EXPECT_EQ(printed().find(kSuccess), std::string::npos);
    }
    // The same word as boot status (no error bits) and as status (bits 11 and 7 clear).
    module_.reset();
    auto b = std::make_unique<sim::TapChain>();
    b->add(std::make_unique<ScriptedFpga>());
    ASSERT_EQ(chain_detect(open(std::move(b))), 1);
    bind(chain_.get(), 0, bit_file("XC7A100T"));
    printed().clear();
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_PROGRAMMING);
    EXPECT_EQ(printed(),
              "デバイス書き込みで、初期化が完了しないため、失敗しました\n"
              "デバイス書き込みで、インターコネクトがハイインピーダンスのままのため、失敗しました\n"
              "FPGA configuration failed: DONE did not go high (STAT=0x00001000).\n");
}

}  // namespace
}  // namespace vireo::test
