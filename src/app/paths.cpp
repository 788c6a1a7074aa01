#include "app/paths.h"

#include <cstdlib>
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
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0])
        data = std::string(home) + "/.local/share";
    while (data.size() > 1 && data.back() == '/') data.pop_back();
    if (!data.empty()) paths.user_data_dir = data + (data == "/" ? "" : "/") + "vireojtag/";
    return paths;
}

}  // namespace vireo::app
