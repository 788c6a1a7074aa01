#include "jtag/status.h"

#include <cstdio>
#include <string>
#include <vector>

#include "jtag/chain.h"
#include "jtag/msg.h"

namespace {

void print_status(const char* prefix, int status) {
    if (status == JTAG_OK) return;
    if (const char* text = jtag_status_text(status)) {
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
