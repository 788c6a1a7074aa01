// The SPI flash tests' board: an FPGA with a flash model on its configuration pins, a context
// opened through the real modules, and the log lines, progress reports, running flag and answers
// of the host.
#pragma once

#include <unistd.h>

#include "devalg/devalg_fixture.h"
#include "sim/spi_flash.h"
#include "spirom/spirom.h"
#include "spirom/spirom_host.h"

namespace vireo::test {
inline std::vector<std::string> g_lines;
// Progress reports through the host; running turns false once running_for reaches zero.
inline int g_spirom_progress = 0;
inline int g_running_for = -1;
// The running flag also turns false at the g_running_calls-th question (-1 never).
inline int g_running_calls = -1;
inline bool g_confirm = false;

struct ContextClose {
    void operator()(SpiRomContext* c) const { spirom_close(c); }
};
using Context = std::unique_ptr<SpiRomContext, ContextClose>;

class SpiRomTest : public DevalgTest {
  protected:
    void SetUp() override {
        DevalgTest::SetUp();
        g_lines.clear();
        SpiRomHost host;
        host.log = [](const std::string& line) { g_lines.push_back(line); };
        host.progress = [](int, int, const std::string&) {
            ++g_spirom_progress;
            if (g_running_for > 0) --g_running_for;
        };
        host.running = [] {
            if (g_running_calls > 0) --g_running_calls;
            return g_running_for != 0 && g_running_calls != 0;
        };
        // A host that asks logs the question, as the application's does.
        host.confirm = [](const std::string& question) {
            g_lines.push_back(question);
            return g_confirm;
        };
        g_spirom_progress = 0;
        g_running_for = -1;
        g_running_calls = -1;
        g_confirm = false;
        spirom_set_host(host);
    }
    void TearDown() override {
        spirom_set_host({});
        DevalgTest::TearDown();
    }
    // An FPGA of `part` (behind an ARM DAP for the Zynq) with `flash` on its configuration pins.
    DevAlgModule* board_with(const char* part, const char* flash) {
        const bool zynq = std::string(part) == "XC7Z020";
        DevAlgModule* m = zynq ? bind({"ARM_DAP", part}, 1, "") : bind({part}, 0, "");
        if (flash) fpga()->set_flash(sim::make_spi_flash(*sim::find_flash_part(flash)));
        return m;
    }
    std::string bridge_file(const char* part) {
        sim::BitgenOptions options;
        options.spi_bridge = true;
        return bit_file(part, options);
    }
    // XC7A100T with `model` on its pins, opened through its bridge; options as spirom_open's.
    Context open_flash(std::shared_ptr<sim::SpiFlash> model, int options = 0) {
        DevAlgModule* m = bind({"XC7A100T"}, 0, "");
        fpga()->set_flash(std::move(model));
        Context ctx(spirom_open(m, bridge_file("XC7A100T").c_str(), options));
        g_lines.clear();
        return ctx;
    }
    Context open_flash(const char* flash, int options = 0) {
        return open_flash(sim::make_spi_flash(*sim::find_flash_part(flash)), options);
    }
    std::vector<uint8_t>& rom() { return fpga()->flash()->array(); }
    bool logged(const std::string& line) const { return std::ranges::count(g_lines, line) > 0; }
    int jprograms() { return static_cast<int>(std::ranges::count(cable().labels, "jprogram")); }
};

}  // namespace vireo::test
