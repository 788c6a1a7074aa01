// Chains over the virtual board with a bound device-algorithm module, bit files in a private
// temporary folder, and the progress reports of the last operations.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "devalg/builtin_modules.h"
#include "jtag/chain_fixture.h"
#include "jtag/devalg.h"
#include "jtag/status.h"
#include "sim/bitgen.h"

namespace vireo::test {

using Progress = std::tuple<int, int, std::string>;
inline std::vector<Progress> g_progress;
inline std::function<void(int)> g_on_progress;  // the host's side of a progress report

struct BindingClose {
    void operator()(DevAlgModule* binding) const { devalg_close(binding); }
};

class DevalgTest : public ChainTest {
  protected:
    void SetUp() override {
        ChainTest::SetUp();
        devalg_register_builtin_modules();
        set_progress_callback([](int current, int total, const char* text) {
            g_progress.emplace_back(current, total, text);
            if (g_on_progress) g_on_progress(current);
        });
        g_progress.clear();
        g_on_progress = nullptr;
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    std::string bit_file(const std::string& part, const sim::BitgenOptions& o = {}) {
        return write_file(part + ".bit", sim::make_bit_file(*sim::find_xilinx_part(part), o,
                                                            "2024/01/01", "12:00:00"));
    }
    // A well-formed header around arbitrary image bytes.
    std::string raw_bit_file(const std::string& name, const std::vector<uint8_t>& image) {
        std::vector<uint8_t> f = {0, 9, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0, 0, 1};
        for (uint8_t key : {'a', 'b', 'c', 'd'}) f.insert(f.end(), {key, 0, 2, 'x', 0});
        f.push_back('e');
        for (int shift = 24; shift >= 0; shift -= 8) f.push_back(uint8_t(image.size() >> shift));
        f.insert(f.end(), image.begin(), image.end());
        return write_file(name, f);
    }

    // Binds the module of the device at index, selects it and names the file to write.
    DevAlgModule* bind(Chain* chain, int index, const std::string& path = "") {
        module_.reset();
        if (Devopt* devopt = device_devopt(chain_get_device(chain, index))) {
            devopt->selected = 1;
            devopt->file_path = path;
        }
        module_.reset(devalg_bind_device(chain, index));
        return module_.get();
    }
    // A fresh board of the given parts, the module of the device at index bound to path.
    DevAlgModule* bind(std::initializer_list<const char*> parts, int index,
                       const std::string& path) {
        module_.reset();
        return bind(detected(parts), index, path);
    }
    int call(uint32_t code) { return devalg_call(module_.get(), code); }

    sim::XilinxFpga* fpga() { return board_->find<sim::XilinxFpga>(); }
    SimCableState& cable() { return sim_cable_state(cable_.get()); }

    std::filesystem::path folder_ =
        std::filesystem::temp_directory_path() / ("vireo_devalg_" + std::to_string(getpid()));
    std::unique_ptr<DevAlgModule, BindingClose> module_;  // released before its chain
};

}  // namespace vireo::test
