// The folders the program works from: the executable's folder (bridge bitstreams) and its system
// folder "sys/" (device database, board pictures, FX3 firmware image).
#pragma once

#include <string>

namespace vireo::app {

struct AppPaths {
    std::string exe_dir;  // with a trailing '/'
    std::string sys_dir;  // exe_dir + "sys/"
    // The user's own data folder, where SPI bridges built for real FPGAs go (see
    // bridge_file.h): $XDG_DATA_HOME/vireojtag/ (an absolute one), else
    // ~/.local/share/vireojtag/; "" when neither is known. Trailing '/'.
    std::string user_data_dir = {};
};

// The executable's own folder when sys/system.bix lies beside it (build tree, portable copy),
// otherwise <prefix>/share/vireojtag/ of an installed copy; the user's data folder from
// XDG_DATA_HOME and HOME, which the front ends' process has.
AppPaths find_app_paths(const std::string& executable);

}  // namespace vireo::app
