// Chains over the virtual board with a bound device-algorithm module, bit files in a private
// temporary folder, and the progress reports of the last operation.
#pragma once

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "jtag/chain_fixture.h"
#include "jtag/devalg.h"
#include "jtag/status.h"
#include "sim/bitgen.h"

namespace vireo::test {

using Progress = std::tuple<int, int, std::string>;
inline std::vector<Progress> g_progress;
inline std::function<void(int)> g_on_progress;  // the host's side of a progress report

inline void record_progress(int current, int total, const char* text) {
    g_progress.emplace_back(current, total, text);
    if (g_on_progress) g_on_progress(current);
}

struct BindingClose {
    void operator()(DevAlgModule* binding) const { devalg_close(binding); }
};
using BindingPtr = std::unique_ptr<DevAlgModule, BindingClose>;

class DevalgTest : public ChainTest {
  protected:
    void SetUp() override {
        ChainTest::SetUp();
        set_progress_callback(record_progress);
        g_progress.clear();
        g_on_progress = nullptr;
        folder_ =
            std::filesystem::temp_directory_path() / ("vireo_devalg_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        g_on_progress = nullptr;
        std::filesystem::remove_all(folder_);
    }

    std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    static std::vector<uint8_t> bit_bytes(const char* part, const sim::BitgenOptions& o = {}) {
        return sim::make_bit_file(*sim::find_xilinx_part(part), o, "2024/01/01", "12:00:00");
    }
    std::string bit_file(const char* part, const sim::BitgenOptions& o = {}) {
        return write_file(std::string(part) + ".bit", bit_bytes(part, o));
    }
    // A well-formed header around arbitrary image bytes.
    std::string raw_bit_file(const std::string& name, const std::vector<uint8_t>& image) {
        std::vector<uint8_t> f = {0,    9,    0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                  0xF0, 0x0F, 0xF0, 0,    0,    1,    'a'};
        for (const char* text : {"design", "b", "part", "c", "date", "d", "time", "e"}) {
            const size_t n = std::strlen(text);
            if (n == 1) {
                f.push_back(text[0]);
                continue;
            }
            f.insert(f.end(), {0, static_cast<uint8_t>(n + 1)});
            f.insert(f.end(), text, text + n + 1);
        }
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
    int stored_status() { return module_->devopt->status; }

    std::filesystem::path folder_;
    BindingPtr module_;  // released before the chain it points into
};

}  // namespace vireo::test
