// The folders the program works from: the executable's folder (bridge bitstreams) and its system
// folder "sys/" (device database, board pictures, FX3 firmware image).
#pragma once

#include <string>

namespace vireo::app {

struct AppPaths {
    std::string exe_dir;  // with a trailing '/'
    std::string sys_dir;  // exe_dir + "sys/"
};

// The executable's own folder when sys/system.bix lies beside it (build tree, portable copy),
// otherwise <prefix>/share/vireojtag/ of an installed copy.
AppPaths find_app_paths(const std::string& executable);

}  // namespace vireo::app
