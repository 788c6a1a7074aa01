#include "jtag/status.h"

#include <cstdio>
#include <string>
#include <vector>

#include "jtag/chain.h"
#include "jtag/msg.h"

namespace {

// Report text of a status; %s takes the prefix. Null for success and for codes without text.
const char* status_text(int status) {
    switch (status) {
        case JTAG_FAIL: return "%sJTAG operation was failed by some reason.";
        case JTAG_NULL: return "%sJTAG operation was failed by NULL POINTER";
        case JTAG_NO_DEVICE: return "%sJTAG operation was failed by 'no device found'";
        case JTAG_NOT_BLANK: return "%sDevice is not blank";
        case JTAG_NO_CABLE: return "%sJTAG operation was failed by 'no cable found'";
        case JTAG_IR_CAPTURE: return "%sJTAG operation was failed by differnt IR capture code";
        case JTAG_IDCODE: return "%sJTAG operation was failed by differnt IDCODE";
        case JTAG_NO_MEMORY: return "%sJTAG operation was failed by out of memory";
        case JTAG_UNKNOWN_INSTRUCTION:
            return "%sJTAG operation was failed such instruction is unknwon";
        case JTAG_PROGRAMMING: return "%sJTAG operation was failed by programming error";
        case JTAG_CHECK_DEVICES: return "%sJTAG operation was failed by checking devices error";
        case JTAG_FILE_OPEN: return "%sJTAG operation was failed by file open error";
        case JTAG_ALGORITHM_UNKNOWN: return "%sJTAG operation was failed by algorithm unknwon";
        case JTAG_VERIFY: return "%sJTAG operation was failed by verify error";
        case JTAG_ADDRESS_OVERFLOW: return "%sJTAG operation was failed by addr overflow";
        case JTAG_LOCKED: return "%sJTAG operation was failed because chain is locked";
        case JTAG_FILE_TYPE: return "%sJTAG operation was failed because of file type mismatch";
        case JTAG_DISCONNECTED:
            return "%sJTAG operation was failed because JTAG cable was disconnected forcibly";
        case JTAG_UNKNOWN_ERROR: return "%sJTAG operation was failed by unkwnon error";
        default: return nullptr;
    }
}

void print_status(const char* prefix, int status) {
    if (status == JTAG_OK) return;
    if (const char* text = status_text(status)) {
        msg_print(text, prefix);
    } else {
        msg_print("%sJTAG operation was failed by unkwnon error code %d", prefix, status);
    }
    msg_print("\n");
}

}  // namespace

int chain_report_errors(Chain* chain) {
    if (!chain || chain->magic != kChainMagic) return JTAG_NULL;
    int result = JTAG_OK;
    for (int i = 0; i < chain_count(chain); ++i) {
        const Device* device = chain_get_device(chain, i);
        const Devopt* devopt = device_devopt(device);
        if (!devopt) continue;
        const std::string description = device_description(device);
        std::vector<char> prefix(description.size() + 200);
        std::snprintf(prefix.data(), prefix.size(),
                      "ERROR: Error occured at device, positon %d [%s]\n\n Reason:\n  ", i + 1,
                      description.c_str());
        print_status(prefix.data(), devopt->status);
        result = devopt->status;
    }
    return result;
}

int chain_reset_status(Chain* chain) {
    if (!chain || chain->magic != kChainMagic) return JTAG_NULL;
    for (int i = 0; i < chain_count(chain); ++i) {
        if (Devopt* devopt = device_devopt(chain_get_device(chain, i))) devopt->status = JTAG_OK;
    }
    return JTAG_OK;
}
