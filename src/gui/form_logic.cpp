#include "gui/form_logic.h"

#include <cctype>
#include <cstdlib>

namespace vireo::gui {

ToolButtons tool_buttons(FormState state, bool file_exists) {
    ToolButtons b;
    switch (state) {
        case FormState::Busy:
            b.cancel = true;
            break;
        case FormState::IdleDisconnected:
            b.file_open = b.connect = true;
            break;
        case FormState::IdleFpga:
            b.file_open = b.connect = b.idcode = b.sig = true;
            b.autob = file_exists;
            break;
        case FormState::IdleSpiRom:
            b.file_open = b.connect = b.idcode = b.sig = b.dump = true;
            b.autob = b.write = b.verify = b.erase = b.blank = b.read = true;
            break;
    }
    return b;
}

bool ProgressFilter::pass(int position, int maximum, int bar_width) {
    const long long pixel = maximum > 0 ? 1LL * position * bar_width / maximum : 0;
    const bool changed = pixel != last_pixel_;
    last_pixel_ = pixel;
    return changed || position == 0 || position == maximum;
}

uint32_t parse_offset(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) at += 2;
    uint64_t value = 0;
    bool digits = false;
    for (; at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at])); ++at) {
        digits = true;
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
        value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    return digits ? static_cast<uint32_t>(value) : 0;
}

}  // namespace vireo::gui
