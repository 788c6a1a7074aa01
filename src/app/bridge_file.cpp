#include "app/bridge_file.h"

#include <filesystem>
#include <system_error>

#include "formats/bitfile.h"
#include "jtag/msg.h"

namespace vireo::app {
namespace {

constexpr char kVirtualOnly[] = "Synthetic=VirtualBoardOnly";

// How to make the file: "spi_xc7a100t.bit" is built by Vivado for an XC7A100T, a Spartan-6
// bridge by ISE's Tcl shell.
std::string build_hint(const AppPaths& paths, const std::string& file_name) {
    std::string part = file_name;
    if (part.starts_with("spi_")) part.erase(0, 4);
    if (part.ends_with(".bit")) part.erase(part.size() - 4);
    // The script as installed beside the programs' data, else in the source tree this build
    // came from, else named as in any copy of the sources.
    std::string script = paths.exe_dir + "hdl/bridge/build.tcl";
    std::error_code error;
    if (!std::filesystem::exists(script, error)) script = VIREO_SOURCE_BRIDGE_SCRIPT;
    if (!std::filesystem::exists(script, error)) script = "hdl/bridge/build.tcl";
    if (part.starts_with("xc7z")) {
        return "A Zynq's boot flash usually hangs on its processor system, which no bridge in "
               "the FPGA reaches; for a flash wired to the FPGA's pins, add those pins to the "
               "tables at the top of " +
               shown_text(script) + " and build " + shown_text(file_name) + " with it.";
    }
    const std::string command =
        part.starts_with("xc6s")
            ? "xtclsh " + script + " " + part + " PACKAGE"
            : "vivado -mode batch -source " + script + " -tclargs " + part + " PACKAGE";
    const std::string folder = paths.user_data_dir.empty() ? paths.exe_dir : paths.user_data_dir;
    return "Build one with the FPGA vendor's tools: " + shown_text(command) +
           " (without PACKAGE it lists the packages it knows), then put " + shown_text(file_name) +
           " in " + shown_text(folder) + " (README.md, \"Flash on a real board\").";
}

}  // namespace

BridgeFile find_bridge_file(const AppPaths& paths, const std::string& file_name,
                            const std::string& device, bool virtual_board) {
    std::vector<std::string> folders;
    if (virtual_board) {
        folders.push_back(paths.exe_dir + kVirtualBridgeFolder);
    } else {
        if (!paths.user_data_dir.empty()) folders.push_back(paths.user_data_dir);
        folders.push_back(paths.exe_dir);
    }
    BridgeFile found;
    const std::string keeps = "Nothing was sent to the FPGA: it keeps its design.";
    for (const std::string& folder : folders) {
        const std::string path = folder + file_name;
        std::error_code error;
        if (!std::filesystem::exists(path, error)) continue;
        BitfileSummary summary;
        if (const std::string problem = bitfile_problem(path.c_str(), &summary); !problem.empty()) {
            found.refusal = {"The SPI bridge " + shown_text(path) +
                                 " cannot be loaded: " + shown_text(problem) + ".",
                             keeps};
        } else if (!virtual_board && summary.design.find(kVirtualOnly) != std::string::npos) {
            found.refusal = {"The SPI bridge " + shown_text(path) +
                                 " is a stand-in for the virtual board (its header says " +
                                 kVirtualOnly + "): it holds no design a real " +
                                 shown_text(device) + " can run.",
                             keeps};
        } else {
            found.path = path;
            found.design = summary.design;
            return found;
        }
        if (!virtual_board)
            found.refusal.insert(found.refusal.end() - 1, build_hint(paths, file_name));
        return found;
    }
    if (virtual_board) {
        found.refusal = {"The virtual board's SPI bridge " + shown_text(folders[0] + file_name) +
                             " is missing (the build's synthetic_bitstreams target makes it).",
                         keeps};
        return found;
    }
    std::string searched;
    for (const std::string& folder : folders)
        searched += (searched.empty() ? "" : " or ") + shown_text(folder);
    found.refusal = {"No SPI bridge for " + shown_text(device) + ": " + shown_text(file_name) +
                         " is not in " + searched + ".",
                     build_hint(paths, file_name), keeps};
    return found;
}

}  // namespace vireo::app
