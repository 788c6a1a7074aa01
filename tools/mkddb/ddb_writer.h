// Turns a device source into the binary device database: the index "system.bix" and one bb file
// of description records per manufacturer and family.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ddb_source.h"
#include "devdb/devdesc.h"

namespace ddbgen {

struct DatabaseImage {
    std::vector<uint8_t> index;                              // system.bix
    std::map<std::pair<int, int>, std::vector<uint8_t>> bb;  // (m, f) -> sys_<m>_<f>.bb
};

// The boundary register written for a part: groups of control, output3 and input cells (one
// per I/O, 3 cells each), the remainder internal cells.
std::vector<BsrCell> boundary_cells(int bsr_len);

DatabaseImage build_database(const Source& source);

// Writes <sys_dir>/system.bix and <sys_dir>/bb/sys_<m>_<f>.bb. Every file goes to a temporary
// name first and is renamed only when all were written, so a failure leaves the old files.
bool write_database(const DatabaseImage& image, const std::filesystem::path& sys_dir,
                    std::string& error);

}  // namespace ddbgen
