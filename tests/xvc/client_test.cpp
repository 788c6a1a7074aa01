// `vireo --xvc HOST:PORT` as a user runs it: every command of the programmer on a virtual board
// lent by our XVC server in this process, and the failures a network adds: no server, something
// that is not an XVC server, and the usage mistakes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "sim/xilinx_parts.h"
#include "support/user_bridge.h"
#include "support/xvc_relay.h"
#include "xvc_test_support.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

const std::string kBin = VIREO_BIN_DIR;

struct Outcome {
    int code = -1;
    std::string out, err;
    std::string shown() const {
        return "exit " + std::to_string(code) + "\n--- out\n" + out + "--- err\n" + err;
    }
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class XvcClient : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vireo_xvc_client_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (server_) server_->server->stop();
        use_virtual_board("");
        fs::remove_all(dir_);
    }
    // Our server on a virtual board of `preset`; its endpoint.
    std::string serve(const char* preset) {
        board_ = use_virtual_board(preset);
        server_ = std::make_unique<TestServer>();
        EXPECT_TRUE(server_->server->start());
        return "127.0.0.1:" + std::to_string(server_->port());
    }
    // vireo with `args` in an environment of its own, killed after two minutes.
    Outcome vireo(const std::vector<std::string>& args) {
        const std::string d = dir_.string();
        std::string command = "cd '" + d + "' && env -i PATH=/usr/bin:/bin HOME='" + d +
                              "' XDG_CACHE_HOME='" + d + "' timeout -s KILL 120 '" + kBin +
                              "/vireo'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " >out 2>err </dev/null; echo $? >code";
        EXPECT_NE(std::system(command.c_str()), -1);
        const std::string code = read_text(dir_ / "code");
        return {code.empty() ? -1 : std::stoi(code), read_text(dir_ / "out"),
                read_text(dir_ / "err")};
    }

    fs::path dir_;
    std::shared_ptr<sim::VirtualBoard> board_;
    std::unique_ptr<TestServer> server_;
};

bool has(const Outcome& o, const std::string& text) {
    return (o.out + o.err).find(text) != std::string::npos;
}

// --- failure paths ---

TEST_F(XvcClient, NoServerOrNotAnXvcServerIsNamedAndNothingElseIsTried) {
    // A port nobody listens on.
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(closed, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string nobody = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    Outcome o = vireo({"--xvc", nobody, "idcode"});
    EXPECT_EQ(o.code, 1) << o.shown();
    EXPECT_TRUE(has(o, "no XVC server at " + nobody + ": connection refused")) << o.shown();

    // Servers that answer getinfo with a line of another protocol, with a vector size past any
    // other, or not at all; each then closes.
    ASSERT_EQ(::listen(closed, 1), 0);
    const auto fake = [&](const std::string& answer, const std::string& expected) {
        std::thread other([closed, answer] {
            const int peer = ::accept(closed, nullptr, nullptr);
            char request[8];
            [[maybe_unused]] ssize_t n = ::recv(peer, request, sizeof request, MSG_WAITALL);
            n = ::send(peer, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(peer);
        });
        const Outcome o = vireo({"--xvc", nobody, "detect"});
        other.join();
        EXPECT_EQ(o.code, 1) << o.shown();
        EXPECT_TRUE(has(o, expected)) << o.shown();
    };
    fake("HTTP/1.0 400 \x1b[2J\n", "it answered getinfo with 'HTTP/1.0 400 \\x1b[2J\\n'");
    fake("xvcServer_v1.0:4294967296\n", "connection lost: the server closed the connection");
    fake("", "it closed the connection without answering getinfo");
    ::close(closed);
    o = vireo({"--xvc", "127.0.0.1", "idcode"});
    EXPECT_TRUE(has(o, "XVC server at 127.0.0.1:2542") || has(o, "XVC server 127.0.0.1:2542"))
        << "named with its default port\n"
        << o.shown();

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--xvc", "host:99999", "idcode"},
          {"--xvc", "::1", "idcode"},
          {"--xvc", "127.0.0.1", "--sim", "kb2203", "idcode"},
          {"--tck", "1000000", "idcode"},
          {"--xvc", "127.0.0.1", "xvc"}}) {
        o = vireo(args);
        EXPECT_EQ(o.code, 2) << args[1] << "\n" << o.shown();
    }
}

TEST_F(XvcClient, ConnectionLostMidProgramIsALostCableAndNeverASuccess) {
    serve("kb2203");
    // The connection is cut a third of the way into the configuration stream.
    XvcRelay relay({server_->port(), 0, {}, 1'500'000});
    ASSERT_TRUE(relay.start());
    const Outcome o = vireo({"--xvc", "127.0.0.1:" + std::to_string(relay.port()), "program",
                             kBin + "/examples/example_xc7a100t.bit"});
    EXPECT_TRUE(relay.dropped());
    EXPECT_EQ(o.code, 1) << o.shown();
    EXPECT_TRUE(has(o, "connection lost")) << o.shown();
    EXPECT_TRUE(has(o, "JTAG cable was disconnected forcibly")) << o.shown();
    EXPECT_FALSE(has(o, "Success")) << o.shown();
}

// --- the commands through the server ---

TEST_F(XvcClient, ServerWithSmallVectorsGetsVectorsOfHalfItsLimit) {
    serve("kb2203");
    XvcRelay relay({server_->port(), 64, {}, 0});
    ASSERT_TRUE(relay.start());
    const std::string at = "127.0.0.1:" + std::to_string(relay.port());
    Outcome o = vireo({"--xvc", at, "program", kBin + "/examples/example_xc7a100t.bit"});
    EXPECT_EQ(o.code, 0) << o.shown();
    o = vireo({"--xvc", at, "dna"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_EQ(relay.violations(), 0u);
    EXPECT_EQ(relay.largest_vector_bytes(), 32u);
}

// --- the commands through the server ---

TEST_F(XvcClient, EveryCommandWorksOnTheArtixBoardThroughOurServer) {
    const std::string at = serve("kb2203");
    const std::string bit = kBin + "/examples/example_xc7a100t.bit";
    Outcome o = vireo({"--xvc", at, "detect"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_TRUE(has(o, "XC7A100T")) << o.shown();
    o = vireo({"--xvc", at, "--tck", "10000000", "dna"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_TRUE(has(o, "TCK period 100 ns asked, 100 ns set")) << o.shown();
    EXPECT_TRUE(has(o, "DeviceDNA:")) << o.shown();
    o = vireo({"--xvc", at, "program", bit});
    EXPECT_EQ(o.code, 0) << o.shown();
    o = vireo({"--xvc", at, "status"});
    EXPECT_TRUE(has(o, "FPGA is configured (DONE high)")) << o.shown();
    // A small image (program reads it back to verify): through a network every wait of the
    // flash is real time, and so is the restart that follows. The image at address 0 begins with
    // a bitstream for another part (written with --force), so that the boot ends at once with
    // INIT low instead of the FPGA searching a blank flash for 15 s. The board behind a server may
    // be a real one: only a bridge built for a real FPGA goes there, here one in the user's folder.
    std::string image(64 * 1024, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 + i / 256);
    const char foreign_id[] =
        "\xFF\xFF\xFF\xFF\xAA\x99\x55\x66\x20\0\0\0\x30\x01\x80\x01\0\0\0\x01";
    image.replace(0, sizeof foreign_id - 1, foreign_id, sizeof foreign_id - 1);
    std::ofstream(dir_ / "image.bin", std::ios::binary) << image;
    o = vireo({"--xvc", at, "flash", "program", "image.bin", "--force"});
    EXPECT_EQ(o.code, 1) << o.shown();
    EXPECT_TRUE(has(o, "No SPI bridge for XC7A100T")) << o.shown();
    const fs::path bridge = dir_ / ".local/share/vireojtag/spi_xc7a100t.bit";
    fs::create_directories(bridge.parent_path());
    const std::vector<uint8_t> bytes = user_built_bridge("XC7A100T");
    std::ofstream(bridge, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    o = vireo({"--xvc", at, "flash", "program", "image.bin", "--force"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_TRUE(has(o, "SPI bridge: " + bridge.string())) << o.shown();
    EXPECT_TRUE(has(o, "did not boot from the SPI ROM")) << o.shown();
    o = vireo({"--xvc", at, "pins", "--bsdl", kBin + "/bsdl/xc7a100t_csg324.bsd"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_TRUE(has(o, "SAMPLE")) << o.shown();
    EXPECT_EQ(server_->status.count("refused"), 0u) << server_->status.joined();
}

TEST_F(XvcClient, TheZynqBehindItsArmDapAndTheHighSpeedBoardAreProgrammed) {
    std::string at = serve("zynq");
    Outcome o =
        vireo({"--xvc", at, "--device", "1", "program", kBin + "/examples/example_xc7z020.bit"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_TRUE(has(o, "Program Success")) << o.shown();
    server_->server->stop();

    // kb2204's XC7A200T from a real Vivado bitstream (Debian's openfpgaloader package).
    const char* vendor = "/usr/share/openFPGALoader/spiOverJtag_xc7a200tsbg484.bit.gz";
    gzFile in = gzopen(vendor, "rb");
    if (!in) GTEST_SKIP() << vendor << " is not installed";
    std::ofstream bit(dir_ / "a200t.bit", std::ios::binary);
    char chunk[65536];
    for (int n; (n = gzread(in, chunk, sizeof chunk)) > 0;) bit.write(chunk, n);
    gzclose(in);
    bit.close();
    at = serve("kb2204");
    o = vireo({"--xvc", at, "program", "a200t.bit"});
    EXPECT_EQ(o.code, 0) << o.shown();
    EXPECT_TRUE(has(o, "Program Success")) << o.shown();
}

}  // namespace
}  // namespace vireo::test
