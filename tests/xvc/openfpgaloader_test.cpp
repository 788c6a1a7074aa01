// openFPGALoader (Debian's openfpgaloader) as a real XVC client of our server on the virtual
// kb2203: it must find the XC7A100T and configure it from one of its own real bitstreams, with
// the virtual FPGA's CRC checks passing. Skipped when the package is not installed.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/xilinx_fpga.h"
#include "xvc_test_support.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

const char* const kClient = "/usr/bin/openFPGALoader";
const char* const kBitstream = "/usr/share/openFPGALoader/spiOverJtag_xc7a100tcsg324.bit.gz";

// The client's output and exit status; killed after two minutes so that a test never hangs.
struct ClientRun {
    std::string output;
    int status = -1;
};
ClientRun run_client(uint16_t port, const std::string& arguments) {
    const std::string command = "timeout -s KILL 120 " + std::string(kClient) +
                                " -c xvc-client --ip 127.0.0.1 --port " + std::to_string(port) +
                                " " + arguments + " 2>&1 </dev/null";
    ClientRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.output.append(chunk, n);
    run.status = ::pclose(pipe);
    return run;
}

bool gunzip_to(const char* from, const fs::path& to) {
    gzFile gz = gzopen(from, "rb");
    if (!gz) return false;
    std::ofstream out(to, std::ios::binary);
    char chunk[1 << 16];
    for (int n; (n = gzread(gz, chunk, sizeof chunk)) > 0;) out.write(chunk, n);
    gzclose(gz);
    return static_cast<bool>(out);
}

TEST(XvcPeer, OpenFpgaLoaderDetectsAndConfiguresTheArtixThroughOurServer) {
    if (!fs::exists(kClient) || !fs::exists(kBitstream)) GTEST_SKIP() << "openfpgaloader absent";
    const fs::path folder =
        fs::temp_directory_path() / ("vireo_xvc_peer_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path bit = folder / "spiOverJtag_xc7a100tcsg324.bit";
    ASSERT_TRUE(gunzip_to(kBitstream, bit));

    std::shared_ptr<sim::VirtualBoard> board = use_virtual_board("kb2203");
    TestServer s;
    ASSERT_TRUE(s.server->start());

    const ClientRun detect = run_client(s.port(), "--detect");
    EXPECT_EQ(detect.status, 0) << detect.output;
    EXPECT_NE(detect.output.find("xc7a100"), std::string::npos) << detect.output;

    const ClientRun load = run_client(s.port(), "--bitstream " + bit.string());
    EXPECT_EQ(load.status, 0) << load.output;
    s.server->stop();
    {
        std::lock_guard lock(board->mutex());
        sim::XilinxFpga* fpga = board->chain().find<sim::XilinxFpga>();
        ASSERT_NE(fpga, nullptr);
        EXPECT_TRUE(fpga->engine().done()) << load.output;
        EXPECT_TRUE(fpga->engine().init()) << "INIT high: no CRC or ID error";
    }
    EXPECT_EQ(s.status.count("Connected from 127.0.0.1"), 2u) << s.status.joined();
    EXPECT_EQ(s.status.count("connection closed\n"), 2u);
    use_virtual_board("");
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vireo::test
