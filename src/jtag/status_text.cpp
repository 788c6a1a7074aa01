#include "jtag/status.h"

namespace {

struct StatusEntry {
    int status;
    const char* name;  // for scripts (the command line's JSON)
    const char* text;  // the report format; null where the status has no text of its own
};

constexpr StatusEntry kStatuses[] = {
    {JTAG_FAIL, "fail", "%sJTAG operation was failed by some reason."},
    {JTAG_OK, "ok", nullptr},
    {JTAG_NULL, "null", "%sJTAG operation was failed by NULL POINTER"},
    {JTAG_NO_DEVICE, "no_device", "%sJTAG operation was failed by 'no device found'"},
    {JTAG_NOT_BLANK, "not_blank", "%sDevice is not blank"},
    {JTAG_NO_CABLE, "no_cable", "%sJTAG operation was failed by 'no cable found'"},
    {JTAG_IR_CAPTURE, "ir_capture", "%sJTAG operation was failed by differnt IR capture code"},
    {JTAG_IDCODE, "idcode", "%sJTAG operation was failed by differnt IDCODE"},
    {JTAG_NO_MEMORY, "no_memory", "%sJTAG operation was failed by out of memory"},
    {JTAG_UNKNOWN_INSTRUCTION, "unknown_instruction",
     "%sJTAG operation was failed such instruction is unknwon"},
    {JTAG_PROGRAMMING, "programming", "%sJTAG operation was failed by programming error"},
    {JTAG_CHECK_DEVICES, "check_devices", "%sJTAG operation was failed by checking devices error"},
    {JTAG_FILE_OPEN, "file_open", "%sJTAG operation was failed by file open error"},
    {JTAG_ALGORITHM_UNKNOWN, "algorithm_unknown",
     "%sJTAG operation was failed by algorithm unknwon"},
    {JTAG_VERIFY, "verify", "%sJTAG operation was failed by verify error"},
    {JTAG_ADDRESS_OVERFLOW, "address_overflow", "%sJTAG operation was failed by addr overflow"},
    {JTAG_UNSUPPORTED, "unsupported", nullptr},
    {JTAG_LOCKED, "locked", "%sJTAG operation was failed because chain is locked"},
    {JTAG_FILE_TYPE, "file_type", "%sJTAG operation was failed because of file type mismatch"},
    {JTAG_DISCONNECTED, "disconnected",
     "%sJTAG operation was failed because JTAG cable was disconnected forcibly"},
    {JTAG_CANCELLED, "cancelled", nullptr},
    {JTAG_UNKNOWN_ERROR, "unknown_error", "%sJTAG operation was failed by unkwnon error"},
};

const StatusEntry* find_status(int status) {
    for (const StatusEntry& entry : kStatuses)
        if (entry.status == status) return &entry;
    return nullptr;
}

}  // namespace

const char* jtag_status_text(int status) {
    const StatusEntry* entry = find_status(status);
    return entry ? entry->text : nullptr;
}

const char* jtag_status_name(int status) {
    const StatusEntry* entry = find_status(status);
    return entry ? entry->name : "unknown_error";
}
