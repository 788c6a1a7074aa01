#include "app/paths.h"

#include <filesystem>
#include <system_error>

namespace vireo::app {

namespace fs = std::filesystem;

AppPaths find_app_paths(const std::string& executable) {
    std::error_code ec;
    fs::path exe = fs::canonical(executable.empty() ? "/proc/self/exe" : executable, ec);
    if (ec) exe = fs::canonical("/proc/self/exe", ec);
    fs::path dir = exe.parent_path();
    if (!fs::exists(dir / "sys" / "system.bix", ec)) {
        const fs::path installed = dir.parent_path() / "share" / "vireojtag";
        if (fs::exists(installed / "sys" / "system.bix", ec)) dir = installed;
    }
    AppPaths paths;
    paths.exe_dir = dir.string() + "/";
    paths.sys_dir = paths.exe_dir + "sys/";
    return paths;
}

}  // namespace vireo::app
