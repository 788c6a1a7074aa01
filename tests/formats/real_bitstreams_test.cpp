// The reader against vendor-tool output: the Spartan-6 and 7-series SPI bridge bitstreams that
// Debian's openfpgaloader package installs.
#include <zlib.h>

#include "format_files.h"
#include "formats/bitfile.h"

namespace vireo::test {
namespace {

const char* const kDir = "/usr/share/openFPGALoader";

std::string gunzip(const std::filesystem::path& path) {
    std::string data;
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) return data;
    char buf[1 << 16];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) data.append(buf, n);
    gzclose(f);
    return data;
}

using BitfileRealBitstreams = FormatFileTest;

TEST_F(BitfileRealBitstreams, ReadWithTheirImageIntact) {
    if (!std::filesystem::is_directory(kDir))
        GTEST_SKIP() << kDir << " is missing: install the openfpgaloader package";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kDir)) {
        const std::string name = entry.path().filename().string();
        const bool family = name.rfind("spiOverJtag_xc6s", 0) == 0 ||
                            name.rfind("spiOverJtag_xc7", 0) == 0;
        if (!family || name.size() < 7 || name.substr(name.size() - 7) != ".bit.gz") continue;
        SCOPED_TRACE(name);
        const std::string raw = gunzip(entry.path());
        ASSERT_GT(raw.size(), 200u);
        const std::string path = file("bridge.bit", raw);

        std::vector<uint8_t> buffer(raw.size());
        int length = 0;
        char info[100];
        ASSERT_EQ(bitfile_read(path.c_str(), buffer.data(), static_cast<int>(buffer.size()), 0,
                               &length, info, sizeof info),
                  1)
            << printed();
        EXPECT_EQ(std::string(info).rfind("Design name:", 0), 0u) << info;
        // The image is the file's tail, after 'e' and its 4-byte length.
        ASSERT_GT(length, 0);
        const size_t at = raw.size() - length;
        EXPECT_EQ(raw[at - 5], 'e');
        for (int i = 0; i < length; ++i)
            ASSERT_EQ(mirrored(buffer[i]), static_cast<uint8_t>(raw[at + i])) << "byte " << i;
        ++files;
    }
    EXPECT_GT(files, 10);
    EXPECT_EQ(printed(), "");
}

}  // namespace
}  // namespace vireo::test
