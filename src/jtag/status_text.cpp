#include "jtag/status.h"

const char* jtag_status_text(int status) {
    switch (status) {
        case JTAG_FAIL:
            return "%sJTAG operation was failed by some reason.";
        case JTAG_NULL:
            return "%sJTAG operation was failed by NULL POINTER";
        case JTAG_NO_DEVICE:
            return "%sJTAG operation was failed by 'no device found'";
        case JTAG_NOT_BLANK:
            return "%sDevice is not blank";
        case JTAG_NO_CABLE:
            return "%sJTAG operation was failed by 'no cable found'";
        case JTAG_IR_CAPTURE:
            return "%sJTAG operation was failed by differnt IR capture code";
        case JTAG_IDCODE:
            return "%sJTAG operation was failed by differnt IDCODE";
        case JTAG_NO_MEMORY:
            return "%sJTAG operation was failed by out of memory";
        case JTAG_UNKNOWN_INSTRUCTION:
            return "%sJTAG operation was failed such instruction is unknwon";
        case JTAG_PROGRAMMING:
            return "%sJTAG operation was failed by programming error";
        case JTAG_CHECK_DEVICES:
            return "%sJTAG operation was failed by checking devices error";
        case JTAG_FILE_OPEN:
            return "%sJTAG operation was failed by file open error";
        case JTAG_ALGORITHM_UNKNOWN:
            return "%sJTAG operation was failed by algorithm unknwon";
        case JTAG_VERIFY:
            return "%sJTAG operation was failed by verify error";
        case JTAG_ADDRESS_OVERFLOW:
            return "%sJTAG operation was failed by addr overflow";
        case JTAG_LOCKED:
            return "%sJTAG operation was failed because chain is locked";
        case JTAG_FILE_TYPE:
            return "%sJTAG operation was failed because of file type mismatch";
        case JTAG_DISCONNECTED:
            return "%sJTAG operation was failed because JTAG cable was disconnected forcibly";
        case JTAG_UNKNOWN_ERROR:
            return "%sJTAG operation was failed by unkwnon error";
        default:
            return nullptr;
    }
}
