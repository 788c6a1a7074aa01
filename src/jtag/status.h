// Operation status codes shared by cable drivers, chain operations and device algorithms, and
// the report that turns the statuses stored in a chain's devices into messages.
#pragma once

struct Chain;

enum JtagStatus : int {
    JTAG_FAIL = 0,
    JTAG_OK = 1,
    JTAG_NULL = 2,
    JTAG_NO_DEVICE = 3,
    JTAG_NOT_BLANK = 4,
    JTAG_NO_CABLE = 5,
    JTAG_IR_CAPTURE = 6,
    JTAG_IDCODE = 7,
    JTAG_NO_MEMORY = 8,
    JTAG_UNKNOWN_INSTRUCTION = 9,
    JTAG_PROGRAMMING = 10,
    JTAG_CHECK_DEVICES = 11,
    JTAG_FILE_OPEN = 12,
    JTAG_ALGORITHM_UNKNOWN = 14,
    JTAG_VERIFY = 15,
    JTAG_ADDRESS_OVERFLOW = 16,
    JTAG_UNSUPPORTED = 17,
    JTAG_LOCKED = 18,
    JTAG_FILE_TYPE = 19,
    JTAG_DISCONNECTED = 21,
    JTAG_CANCELLED = 24,
    JTAG_UNKNOWN_ERROR = 25,
};

// Report text of a status, a format whose %s takes the report prefix; null for success and for
// codes without a text of their own.
const char* jtag_status_text(int status);
// A status's name for scripts ("ok", "verify", "disconnected" ...); "unknown_error" for codes
// this library does not return.
const char* jtag_status_name(int status);

// Prints the report of every device whose stored status is not success; returns the stored
// status of the last device (1 when no device has one, 2 for no chain).
int chain_report_errors(Chain* chain);
// Sets every device's stored status to success.
int chain_reset_status(Chain* chain);
