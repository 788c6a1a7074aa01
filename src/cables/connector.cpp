#include "cables/connector.h"

namespace cable_connector {

const Pin kPins[13] = {
    {"NC0", 0}, {"NC", 0}, {"TCK", 3}, {"TDI", 3}, {"TMS", 3}, {"TDO", 3},  {"GND", 2},
    {"P0", 6},  {"P1", 6}, {"P2", 6},  {"P3", 6},  {"VCC", 1}, {"VREF", 4},
};

const char* const kDrawing[18] = {
    "package\t-44\t52\t44\t-52\tgreen\t",
    "rectangle\t-24\t64\t24\t8\tgray\t",
    "rectangle\t-20\t0\t20\t-40\tblack\t",
    "rpin\t\t32\t20\t40\t12\tred\tVref",
    "rpin\t\t32\t8\t40\t0\tred\tVCC",
    "rpin\t\t32\t-4\t40\t-12\tblack\tP3",
    "rpin\t\t32\t-16\t40\t-24\tblack\tP2",
    "rpin\t\t32\t-28\t40\t-36\tblack\tP1",
    "rpin\t\t32\t-40\t40\t-48\tblack\tP0",
    "circle\t\t-40\t20\t-32\t12\tblack\tNC",
    "rpin\t\t-40\t8\t-32\t0\tblack\tTCK",
    "rpin\t\t-40\t-4\t-32\t-12\tblack\tTDI",
    "tdi\t\t-40\t-4\t-32\t-12\t",
    "rpin\t\t-40\t-16\t-32\t-24\tblack\tTMS",
    "rpin\t\t-40\t-28\t-32\t-36\tblack\tTDO",
    "tdo\t\t-40\t-28\t-32\t-36\t",
    "rpin\t\t-40\t-40\t-32\t-48\tblack\tGND",
    nullptr,
};

}  // namespace cable_connector
