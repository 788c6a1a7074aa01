#include "app/config_report.h"

#include <cstdio>
#include <span>

namespace vireo::app {
namespace {

// One bit or bit field of a register. A field whose value equals `bad` adds `problem` to the
// verdict (bad < 0: no value is a problem).
struct Field {
    int low;
    int width;
    const char* name;
    int bad = -1;
    const char* problem = nullptr;
};

// clang-format off
constexpr Field kSeries7Stat[] = {
    {0, 1, "CRC_ERROR", 1, "CRC error"},
    {1, 1, "PART_SECURED"},
    {2, 1, "MMCM_LOCK"},
    {3, 1, "DCI_MATCH"},
    {4, 1, "EOS"},
    {5, 1, "GTS_CFG_B"},
    {6, 1, "GWE"},
    {7, 1, "GHIGH_B"},
    {8, 3, "MODE"},
    {11, 1, "INIT_COMPLETE"},
    {12, 1, "INIT_B", 0, "INIT_B low"},
    {13, 1, "RELEASE_DONE"},
    {14, 1, "DONE"},
    {15, 1, "ID_ERROR", 1, "ID error (the image is for another part)"},
    {16, 1, "DEC_ERROR", 1, "decryption error"},
    {17, 1, "XADC_OVER_TEMP"},
    {18, 3, "STARTUP_STATE"},
    {25, 2, "BUS_WIDTH"},
};

constexpr Field kSpartan6Stat[] = {
    {0, 1, "CRC_ERROR", 1, "CRC error"},
    {1, 1, "ID_ERROR", 1, "ID error (the image is for another part)"},
    {2, 1, "DCM_LOCK"},
    {3, 1, "GTS_CFG_B"},
    {4, 1, "GWE"},
    {5, 1, "GHIGH_B"},
    {6, 1, "DEC_ERROR", 1, "decryption error"},
    {7, 1, "PART_SECURED"},
    {8, 1, "HSWAPEN"},
    {9, 3, "MODE"},
    {12, 1, "INIT_B", 0, "INIT_B low"},
    {13, 1, "DONE"},
    {14, 1, "IN_PWRDN"},
    {15, 1, "SWWD"},
};

// Status_0 is the latest configuration attempt, Status_1 the one before it.
constexpr Field kSeries7Bootsts[] = {
    {0, 1, "VALID_0"},
    {1, 1, "FALLBACK_0"},
    {2, 1, "IPROG_0"},
    {3, 1, "WTO_ERROR_0", 1, "watchdog time-out (boot status)"},
    {4, 1, "ID_ERROR_0", 1, "ID error (boot status)"},
    {5, 1, "CRC_ERROR_0", 1, "CRC error (boot status)"},
    {6, 1, "WRAP_ERROR_0", 1, "BPI address wrap-around (boot status)"},
    {7, 1, "HMAC_ERROR_0", 1, "HMAC error (boot status)"},
    {8, 1, "VALID_1"},
    {9, 1, "FALLBACK_1"},
    {10, 1, "IPROG_1"},
    {11, 1, "WTO_ERROR_1"},
    {12, 1, "ID_ERROR_1"},
    {13, 1, "CRC_ERROR_1"},
    {14, 1, "WRAP_ERROR_1"},
    {15, 1, "HMAC_ERROR_1"},
};

constexpr Field kSpartan6Bootsts[] = {
    {0, 1, "VALID_0"},
    {1, 1, "FALLBACK_0"},
    {2, 1, "IPROG_0"},
    {3, 1, "WTO_ERROR_0", 1, "watchdog time-out (boot status)"},
    {4, 1, "ID_ERROR_0", 1, "ID error (boot status)"},
    {5, 1, "CRC_ERROR_0", 1, "CRC error (boot status)"},
    {6, 1, "VALID_1"},
    {7, 1, "FALLBACK_1"},
    {8, 1, "IPROG_1"},
    {9, 1, "WTO_ERROR_1"},
    {10, 1, "ID_ERROR_1"},
    {11, 1, "CRC_ERROR_1"},
    {12, 4, "STRIKE_COUNT"},
};

// Configuration modes of the 7-series M[2:0] pins.
constexpr const char* kSeries7Modes[8] = {
    "master serial", "master SPI", "master BPI", "reserved",
    "master SelectMAP", "JTAG", "slave SelectMAP", "slave serial",
};
// clang-format on

constexpr const char* kBusWidths[4] = {"x1", "x8", "x16", "x32"};

std::string format(const char* fmt, auto... args) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string binary(uint32_t value, int width) {
    std::string text;
    for (int i = width - 1; i >= 0; --i) text += (value >> i & 1) ? '1' : '0';
    return text;
}

// What a field's value means where a number alone says little.
std::string meaning(const Field& field, uint32_t value, FpgaFamily family) {
    const std::string name = field.name;
    if (name == "MODE" && family == FpgaFamily::Series7) return kSeries7Modes[value & 7];
    if (name == "BUS_WIDTH") return kBusWidths[value & 3];
    if (name == "STARTUP_STATE" || name == "STRIKE_COUNT") return std::to_string(value);
    return "";
}

// A register's value and one line per field; the problems of its fields go to the report.
void explain_register(const char* title, uint32_t word, int width, std::span<const Field> fields,
                      FpgaFamily family, ConfigReport& report) {
    report.lines.push_back(format("%s 0x%0*X", title, width / 4, word));
    for (const Field& field : fields) {
        const uint32_t value = word >> field.low & ((1u << field.width) - 1);
        const std::string bits = field.width == 1
                                     ? format("[%d]", field.low)
                                     : format("[%d:%d]", field.low + field.width - 1, field.low);
        std::string line =
            format("  %-8s %-15s %s", bits.c_str(), field.name, binary(value, field.width).c_str());
        if (const std::string m = meaning(field, value, family); !m.empty()) line += " (" + m + ")";
        if (field.bad >= 0 && value == static_cast<uint32_t>(field.bad)) {
            line += "  <- " + std::string(field.problem);
            report.problems.push_back(field.problem);
        }
        report.lines.push_back(line);
    }
}

}  // namespace

ConfigReport explain_config_status(const ConfigStatus& status, std::optional<uint32_t> usercode) {
    ConfigReport report;
    const bool series7 = status.family == FpgaFamily::Series7;
    const bool done = status.ir_capture & kIrCaptureDone;
    const bool init = status.ir_capture & kIrCaptureInit;
    report.configured = done;
    report.lines.push_back(format("Family: %s", series7 ? "7-series" : "Spartan-6"));
    report.lines.push_back(format("DONE %d, INIT %d (instruction capture 0x%02X)", done ? 1 : 0,
                                  init ? 1 : 0, status.ir_capture));
    const int width = series7 ? 32 : 16;
    using Fields = std::span<const Field>;
    explain_register("STAT", status.stat, width, series7 ? Fields(kSeries7Stat) : kSpartan6Stat,
                     status.family, report);
    explain_register("BOOTSTS", status.bootsts, width,
                     series7 ? Fields(kSeries7Bootsts) : kSpartan6Bootsts, status.family, report);
    if (usercode) report.lines.push_back(format("USERCODE 0x%08X", *usercode));

    std::string verdict =
        done ? "FPGA is configured (DONE high)" : "FPGA is not configured (DONE low)";
    for (size_t i = 0; i < report.problems.size(); ++i) {
        verdict += (i == 0 ? (done ? ", but: " : ": ") : ", ") + report.problems[i];
    }
    report.lines.push_back(verdict);
    return report;
}

}  // namespace vireo::app
