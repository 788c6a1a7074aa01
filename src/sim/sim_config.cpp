#include "sim/sim_config.h"

#include <cctype>
#include <cstdlib>
#include <set>

#include "sim/rtl_bridge.h"
#include "sim/spi_flash.h"

namespace vireo::sim {
namespace {

const char* lookup(const EnvLookup& env, const char* name) {
    return env ? env(name) : std::getenv(name);
}

std::string known_presets() {
    std::string list;
    for (const auto& p : board_presets()) list += (list.empty() ? "" : ", ") + p.name;
    return list;
}

bool is_part_name(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
    return true;
}

bool is_version(std::string_view s) {  // digits '.' digits
    const size_t dot = s.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == s.size()) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i != dot && !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

std::optional<uint64_t> parse_count(std::string_view s) {
    if (s.empty() || s.size() > 19) return std::nullopt;  // 19 digits always fit 64 bits
    uint64_t v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return v;
}

// "typ", "max" or "<N>us" (decimal microseconds that fit 64 bits as nanoseconds).
bool parse_clear(std::string_view s, SimConfig& cfg) {
    if (s == "typ" || s == "max") {
        cfg.clear = s == "typ" ? ClearTime::Typical : ClearTime::DataSheetMax;
        return true;
    }
    if (s.size() < 3 || !s.ends_with("us")) return false;
    const auto us = parse_count(s.substr(0, s.size() - 2));
    if (!us || *us > UINT64_MAX / 1000) return false;
    cfg.clear = ClearTime::Fixed;
    cfg.clear_ns = *us * 1000;
    return true;
}

SimConfigResult fail(const std::string& text) {
    return {std::nullopt, "VIREO_SIM: " + text};
}

// Applies one option=value to cfg; returns an error text or "".
std::string apply_option(SimConfig& cfg, std::string_view key, std::string_view value) {
    const std::string v(value);
    if (key == "flash") {
        if (!is_part_name(value)) return "malformed flash part '" + v + "'";
        if (!find_flash_part(value)) return "unknown flash part '" + v + "'";
        cfg.flash = v;
    } else if (key == "state") {
        if (value.empty()) return "empty state folder";
        cfg.state_dir = v;
    } else if (key == "unplug") {
        cfg.unplug_after = parse_count(value);
        if (!cfg.unplug_after) return "unplug needs a transfer count, got '" + v + "'";
    } else if (key == "tdo") {
        if (value == "stuck0")
            cfg.tdo = TdoFault::StuckLow;
        else if (value == "stuck1")
            cfg.tdo = TdoFault::StuckHigh;
        else
            return "tdo must be stuck0 or stuck1, got '" + v + "'";
    } else if (key == "fw") {
        if (cfg.preset->transport.kind != TransportKind::Usb2Board)
            return "fw applies only to USB 2.0 boards, not '" + cfg.preset->name + "'";
        if (!is_version(value)) return "fw needs a version like 1.2, got '" + v + "'";
        cfg.firmware = v;
    } else if (key == "clear") {
        if (!parse_clear(value, cfg))
            return "clear must be typ, max or microseconds like 500us, got '" + v + "'";
    } else if (key == "bridge") {
        if (value == "model") {
            cfg.bridge = BridgeKind::Model;
        } else if (value == "rtl") {
            if (!rtl_bridge_built())
                return "bridge=rtl needs the Verilator build of hdl/bridge/, which this "
                       "program lacks (a build configured with verilator installed has it; the "
                       "sanitizer builds leave it out)";
            cfg.bridge = BridgeKind::Rtl;
        } else {
            return "bridge must be model or rtl, got '" + v + "'";
        }
    } else {
        return "unknown option '" + std::string(key) +
               "' (known: flash, state, unplug, tdo, fw, clear, bridge)";
    }
    return {};
}

}  // namespace

std::string default_state_dir(std::string_view preset, const EnvLookup& env) {
    std::string base;
    if (const char* xdg = lookup(env, "XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = lookup(env, "HOME"); home && home[0])
        base = std::string(home) + "/.cache";
    else
        return {};
    if (base.back() != '/') base += '/';
    return base + "vireojtag/sim/" + std::string(preset) + "/";
}

SimConfigResult parse_sim_config(std::string_view text, const EnvLookup& env) {
    const size_t comma = text.find(',');
    const std::string name(text.substr(0, comma));
    if (name.empty()) return fail("no preset given (known: " + known_presets() + ")");
    SimConfig cfg;
    cfg.preset = find_board_preset(name);
    if (!cfg.preset) return fail("unknown preset '" + name + "' (known: " + known_presets() + ")");
    cfg.flash = cfg.preset->flash;
    cfg.firmware = cfg.preset->transport.version;

    std::set<std::string, std::less<>> seen;
    std::string_view rest =
        comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    while (comma != std::string_view::npos) {
        const size_t next = rest.find(',');
        const std::string_view item = rest.substr(0, next);
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0)
            return fail("option '" + std::string(item) + "' is not option=value");
        const std::string_view key = item.substr(0, eq);
        if (!seen.insert(std::string(key)).second)
            return fail("option '" + std::string(key) + "' given twice");
        if (std::string err = apply_option(cfg, key, item.substr(eq + 1)); !err.empty())
            return fail(err);
        if (next == std::string_view::npos) break;
        rest = rest.substr(next + 1);
    }
    if (cfg.state_dir.empty()) cfg.state_dir = default_state_dir(cfg.preset->name, env);
    return {std::move(cfg), {}};
}

}  // namespace vireo::sim
