// mkddb: compiles the device source files into the device database of the runnable layout.
//   mkddb -o <sys directory> <source.txt>...
// Writes <sys directory>/system.bix and <sys directory>/bb/sys_<m>_<f>.bb. Any error in the
// sources is reported as file:line and nothing is written.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ddb_source.h"
#include "ddb_writer.h"

int main(int argc, char** argv) {
    std::string out_dir;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            out_dir = argv[++i];
        else
            inputs.push_back(argv[i]);
    }
    if (out_dir.empty() || inputs.empty()) {
        std::fprintf(stderr, "usage: mkddb -o <sys directory> <source.txt>...\n");
        return 2;
    }

    ddbgen::Source source;
    std::vector<std::string> errors;
    for (const std::string& path : inputs) ddbgen::read_source(path, source, errors);
    if (errors.empty() && source.parts.empty()) errors.push_back("mkddb: no part in the sources");
    for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
    if (!errors.empty()) {
        std::fprintf(stderr, "mkddb: %zu error(s), nothing written\n", errors.size());
        return 1;
    }

    std::string error;
    const ddbgen::DatabaseImage image = ddbgen::build_database(source);
    if (!ddbgen::write_database(image, out_dir, error)) {
        std::fprintf(stderr, "mkddb: %s\n", error.c_str());
        return 1;
    }
    std::printf("mkddb: %zu parts of %zu manufacturers written to %s\n", source.parts.size(),
                source.manufacturers.size(), out_dir.c_str());
    return 0;
}
