// The BSDL reader on hand-written fragments and on the virtual board's generated files.
#include "devdb/bsdl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "devdb/bix.h"
#include "jtag/msg.h"
#include "sim/boundary_layout.h"
#include "sim/xilinx_instructions.h"
#include "sim/xilinx_parts.h"
#include "support/printed.h"

namespace vireo::test {
namespace {

using DescriptionPtr = std::unique_ptr<DeviceDescription, void (*)(DeviceDescription*)>;

constexpr const char* kHeader =
    "-- a comment line\n"
    "entity CHIP is\n"
    "  generic (PHYSICAL_PIN_MAP : string := \"PQ8\");\n";

class BsdlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(collect_print);
        printed().clear();
    }

    static DescriptionPtr parse(const std::string& text) {
        return DescriptionPtr(bsdl_parse(text.data(), text.size(), "t.bsd"), devdesc_free);
    }
    static bool said(const std::string& text) { return printed().find(text) != std::string::npos; }
};

// One fault in a boundary-register entry costs that entry at most: a missing comma, an unknown
// cell type, a missing field and a joint without '&' each give one message, and every entry
// after them reads as written.
TEST_F(BsdlTest, AMalformedCellEntryStaysInsideItsEntry) {
    DescriptionPtr d = parse(std::string(kHeader) +
                             "attribute BOUNDARY_LENGTH of CHIP : entity is 6;\n"
                             "attribute BOUNDARY_REGISTER of CHIP : entity is\n"
                             "  \"5 (BC_1, A, input X), 4 (BC_1, B, output3, X, 3, 0, Z),\" &\n"
                             "  \"3 (BC_Q, C, control, 0), 2 (BC_1, , input, X),\"\n"
                             "  \"1 (BC_1, E, input, X), 0 (AC_SELX, F, input, X)\";\n"
                             "attribute INSTRUCTION_LENGTH of CHIP : entity is 6;\n");
    ASSERT_TRUE(d);
    EXPECT_TRUE(said("(line 6): errcode=75\n',' is expected instead of 'X' here.\n"));
    EXPECT_TRUE(said("(line 7): errcode=83\nUnknown cell type 'BC_Q' found.\n"));
    EXPECT_TRUE(said("(line 7): errcode=67\nmissing operand.\n"));
    EXPECT_TRUE(said("(line 8): errcode=76\n"));
    size_t errors = 0;
    for (size_t at = printed().find("errcode="); at != std::string::npos;
         at = printed().find("errcode=", at + 1)) {
        ++errors;
    }
    EXPECT_EQ(errors, 4u) << printed();
    ASSERT_EQ(d->cells.size(), 6u);
    EXPECT_EQ(d->cells[5].port, "A") << "kept as far as it was read";
    EXPECT_EQ(d->cells[4].function, CellFunction::Output3);
    EXPECT_EQ(d->cells[4].control_cell, 3);
    EXPECT_EQ(d->cells[3].bc_type, 255);
    EXPECT_EQ(d->cells[3].function, CellFunction::Control);
    EXPECT_EQ(d->cells[2].function, CellFunction::Input);
    EXPECT_EQ(d->cells[1].port, "E") << "after the lost '&', reading goes on at the cell number";
    EXPECT_EQ(d->cells[0].port, "F") << "an AC cell is a known type";
    EXPECT_EQ(d->ir_length, 8) << "no opcodes: BYPASS alone";
}

TEST_F(BsdlTest, AFileCutInsideAStatementIsReported) {
    DescriptionPtr d = parse(std::string(kHeader) +
                             "attribute BOUNDARY_LENGTH of CHIP : entity is 4;\n"
                             "attribute BOUNDARY_REGISTER of CHIP : entity is\n"
                             "  \"3 (BC_1, A, input, X), 2 (BC_1, B, inp");
    ASSERT_TRUE(d);
    EXPECT_TRUE(
        said("(line 6): errcode=59\nmissing ';'.\n"
             "BSDL file:t.bsd (line 6): the file ends inside attribute BOUNDARY_REGISTER.\n"));
    EXPECT_EQ(d->cells[3].port, "A");
    EXPECT_EQ(d->cells[2].port, "B");

    printed().clear();
    d = parse(std::string(kHeader) + "attribute BOUNDARY_LENGTH of CHIP : entity is 4;\n");
    EXPECT_EQ(printed(), "") << "a complete file ends outside any statement";
}

// "--" between quotes is text; after the closing quote, or on the next line, it starts a comment.
TEST_F(BsdlTest, DashesInsideQuotesAreText) {
    DescriptionPtr d = parse(std::string(kHeader) +
                             "attribute DESIGN_WARNING of CHIP : entity is\n"
                             "  \"see -- note - 2\" & -- \"a comment\n"
                             "  \"next\"; -- done \"\n"
                             "attribute INSTRUCTION_LENGTH of CHIP : entity is 5;\n");
    ASSERT_TRUE(d);
    EXPECT_EQ(printed(), "");
    ASSERT_EQ(d->design_warnings.size(), 2u);
    EXPECT_EQ(d->design_warnings[0], "see -- note - 2");
    EXPECT_EQ(d->design_warnings[1], "next");
    EXPECT_EQ(d->ir_length, 8) << "the statement after the warning is read (no opcodes: 8)";
}

TEST_F(BsdlTest, HeaderBusesPinMapAndCellsMakeThePins) {
    const std::string text =
        std::string(kHeader) +
        "port (TDI, TCK: in bit; D: inout bit_vector(7 downto 0);\n"
        "      A: in bit_vector(1 to 3); VCC: linkage bit);\n"
        "use STD_1149_1_2001.all; -- ignored\n"
        "constant PQ8 : PIN_MAP_STRING := \"D:(P1, P2) , \" &\n"
        "   \"A:(P3,P4,P5), VCC: P6,  TCK:P7\";\n"
        "attribute BOUNDARY_LENGTH of CHIP : entity is 5;\n"
        "attribute BOUNDARY_REGISTER of CHIP : entity is\n"
        "  \"4 (BC_1, D(7), output3, X, 3, 0, Z), 3 (BC_1, *, control, 0),\" &\n"
        "  \"2 (BC_7, D(7), input, X), 1 (BC_10, A(2), clock, X)\";\n"
        "end CHIP;\n";
    DescriptionPtr d = parse(text);
    ASSERT_TRUE(d);
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(d->name, "CHIP");
    EXPECT_EQ(d->package, "PQ8");
    ASSERT_EQ(d->pins.size(), 7u);
    EXPECT_EQ(d->pins[0].port, "D(7)") << "downto counts down from FIRST";
    EXPECT_EQ(d->pins[1].port, "D(6)");
    EXPECT_EQ(d->pins[1].pin, "P2");
    EXPECT_EQ(d->pins[2].port, "A(1)") << "to counts up";
    EXPECT_EQ(d->pins[4].port, "A(3)");
    EXPECT_EQ(d->pins[6].port, "TCK");
    // D(7): output3 at 4 with control 3 and disable 0, then input at 2.
    EXPECT_EQ(d->pins[0].output_cell, 4);
    EXPECT_EQ(d->pins[0].input_cell, 2);
    EXPECT_EQ(d->pins[0].control_cell, 3);
    EXPECT_EQ(d->pins[0].disable_value, '0');
    EXPECT_EQ(d->pins[3].input_cell, 1) << "a clock cell is an input";
    ASSERT_EQ(d->cells.size(), 5u);
    EXPECT_EQ(d->cells[2].bc_type, 7);
    EXPECT_EQ(d->cells[1].bc_type, 1) << "BC_10 reads one digit";
    EXPECT_EQ(d->cells[0].port, "unknown") << "a cell no entry describes";
    EXPECT_EQ(d->cells[0].bc_type, 255);
    EXPECT_EQ(d->cells[0].control_cell, -1);
    EXPECT_EQ(d->instructions.size(), 1u);
    EXPECT_EQ(d->instructions[0].name, "BYPASS");
    EXPECT_EQ(d->instructions[0].opcode, "11111111");
    EXPECT_EQ(d->ir_length, 8);
}

TEST_F(BsdlTest, IdcodeSegmentsMaskAndTheirLimits) {
    auto idcode = [](const std::string& value) {
        printed().clear();
        return parse(std::string(kHeader) + "attribute IDCODE_REGISTER of CHIP : entity is " +
                     value + ";\n");
    };
    DescriptionPtr d = idcode("\"0001\" & \"0011011000110001\" & \"00001001001\" & \"1\"");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->idcode, 0x13631093u);
    EXPECT_EQ(d->idcode_mask, 0xFFFFFFFFu);
    d = idcode("\"XXXX\" & \"0011011000110001\" & \"00001001001\" & \"1\"");
    EXPECT_EQ(d->idcode, 0x03631093u);
    EXPECT_EQ(d->idcode_mask, 0x0FFFFFFFu);

    d = idcode("\"0001\" & \"0011011000110001\" & \"00001001001\" & \"1\" & \"0\"");
    EXPECT_TRUE(said("errcode=104"));
    EXPECT_EQ(d->idcode, 0x13631093u) << "the 33rd character is not taken";

    d = idcode("\"00010011011000110001000010010011,\" & \"00100011011000110001000010010011\"");
    EXPECT_TRUE(said("errcode=105"));
    EXPECT_TRUE(said("Multiple IDCODE has not supported yet."));
    EXPECT_EQ(d->idcode, 0x13631093u) << "the first one is kept";
}

TEST_F(BsdlTest, InstructionsCaptureAndMissingOpcodes) {
    DescriptionPtr d = parse(std::string(kHeader) +
                             "attribute INSTRUCTION_LENGTH of CHIP : entity is 4;\n"
                             "attribute INSTRUCTION_OPCODE of CHIP : entity is\n"
                             "  \"BYPASS (1111), EXTEST (0000, 1000),\" &\n"
                             "  \"SAMPLE (0001),\" & \"PRIV (XX10)\";\n"
                             "attribute INSTRUCTION_CAPTURE of CHIP : entity is \"0\" & \"1\";\n");
    ASSERT_TRUE(d);
    EXPECT_EQ(printed(), "");
    ASSERT_EQ(d->instructions.size(), 4u);
    EXPECT_EQ(d->instructions[1].name, "EXTEST");
    EXPECT_EQ(d->instructions[1].opcode, "0000") << "later codes skipped";
    EXPECT_EQ(d->instructions[3].opcode, "XX10");
    EXPECT_EQ(d->ir_length, 4);
    EXPECT_EQ(d->ir_capture, "0") << "later capture segments are ignored";

    d = parse(std::string(kHeader) +
              "attribute INSTRUCTION_OPCODE of CHIP : entity is \"IDCODE (\" & \"?)\";\n");
    EXPECT_TRUE(said("errcode=73"));
    EXPECT_TRUE(said("t.bsd:no inst_code of IDCODE"));
    ASSERT_EQ(d->instructions.size(), 1u);
    EXPECT_EQ(d->instructions[0].opcode, "");
}

TEST_F(BsdlTest, ErrorsNameFileLineAndCodeAndReadingGoesOn) {
    DescriptionPtr d = parse(std::string(kHeader) +
                             "\n"
                             "attribute BOUNDARY_LENGTH of OTHER : entity is 3;\n"
                             "attribute BOUNDARY_REGISTER off CHIP : entity is\n"
                             "  \"0 (BC_1, X, sideways, X), 1 (BC_1, Y, input, X, 0, 1, FLOAT)\";\n"
                             "constant PQ8 : PIN_MAP_STRING := \"X:1\";\n"
                             "constant PQ8 : PIN_MAP_STRING := \"Y:2\";\n"
                             "attribute INSTRUCTION_LENGTH of CHIP : entity is 6\n"
                             "attribute INSTRUCTION_CAPTURE of CHIP : entity is \"01\";\n");
    ASSERT_TRUE(d);
    EXPECT_TRUE(
        said("BSDL format error in file:t.bsd (line 5): errcode=1\n"
             "'OTHER' is not equal to entity name 'CHIP'.\n"));
    EXPECT_EQ(d->cells.size(), 3u) << "an attribute of another entity is still read";
    EXPECT_TRUE(said("(line 6): errcode=61\n'OF' is expected instead of 'off' here.\n"));
    EXPECT_TRUE(said("(line 7): errcode=78\nUnknown pin function 'sideways' found.\n"));
    EXPECT_TRUE(said("(line 7): errcode=79\nUnknown result value 'FLOAT' found.\n"));
    EXPECT_TRUE(said("(line 9): errcode=101\nPIN_MAP_STRING has already defined.\n"));
    ASSERT_EQ(d->pins.size(), 1u) << "the second pin map is ignored";
    EXPECT_TRUE(said("(line 11): errcode=59\nmissing ';'.\n")) << "attribute inside attribute";
    EXPECT_EQ(d->ir_length, 8) << "no opcodes: BYPASS alone";
    EXPECT_EQ(d->ir_capture, "01") << "the interrupting statement is read";

    printed().clear();
    d = parse("entity X is generik (PHYSICAL_PIN_MAP : string := \"P\") ;");
    EXPECT_TRUE(said("errcode=106\n \"generic\" is expected instead of 'generik' here.\n"));
    EXPECT_EQ(parse("-- entity E is\nattribute X of Y : is 1;"), nullptr) << "no header";
}

TEST_F(BsdlTest, BoundaryRegisterNeedsItsLengthAndStaysInside) {
    DescriptionPtr d =
        parse(std::string(kHeader) +
              "attribute BOUNDARY_REGISTER of CHIP : entity is \"0 (BC_1, *, internal, X)\";\n"
              "attribute INSTRUCTION_LENGTH of CHIP : entity is 6;\n");
    ASSERT_TRUE(d);
    EXPECT_TRUE(said("errcode=102\nBoundary register length is unknown.\n"));
    EXPECT_EQ(d->ir_length, 8) << "the reading ended at 102";
    EXPECT_TRUE(d->cells.empty());

    printed().clear();
    d = parse(std::string(kHeader) +
              "attribute BOUNDARY_LENGTH of CHIP : entity is 2;\n"
              "attribute BOUNDARY_REGISTER of CHIP : entity is\n"
              "  \"1 (BC_1, P, output3, X, 7, 1, Z), 2 (BC_1, Q, input, X), 0 (BC_1, R, input, "
              "X)\";\n");
    EXPECT_TRUE(said("control cell 7 is outside the boundary register"));
    EXPECT_TRUE(said("\nBoundary register length exceeded 'attribute BOUNDARY_LENGTH'.\n"));
    ASSERT_EQ(d->cells.size(), 2u);
    EXPECT_EQ(d->cells[1].control_cell, -1);
    EXPECT_EQ(d->cells[0].port, "unknown") << "the statement ended at the exceeding cell";

    printed().clear();
    d = parse(std::string(kHeader) +
              "attribute BOUNDARY_LENGTH of CHIP : entity is 4000000;\n"
              "attribute BOUNDARY_REGISTER of CHIP : entity is \"0 (BC_1, *, internal, X)\";\n");
    EXPECT_TRUE(said("BOUNDARY_LENGTH '4000000' is beyond 32767 cells; ignored."));
    EXPECT_TRUE(said("errcode=102"));
    EXPECT_TRUE(d->cells.empty());
}

TEST_F(BsdlTest, TablesAreCutAtTheirLimitsWithAMessage) {
    std::ostringstream text;
    text << kHeader << "port (B: in bit_vector(0 to 5999));\n";
    text << "constant PQ8 : PIN_MAP_STRING := \"B:(";
    for (int i = 0; i < 6000; ++i) text << (i ? "," : "") << "P" << i;
    text << ")\";\nattribute INSTRUCTION_OPCODE of CHIP : entity is \"";
    for (int i = 0; i < 2600; ++i) text << (i ? ", " : "") << "I" << i << " (0)";
    text << "\";\nattribute INSTRUCTION_CAPTURE of CHIP : entity is \"" << std::string(150, '1')
         << "\";\nattribute DESIGN_WARNING of CHIP : entity is \"" << std::string(3000, 'w')
         << "x\";\n";
    DescriptionPtr d = parse(text.str());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->pins.size(), 5000u);
    EXPECT_TRUE(said("more than 5000 pins; the rest are not kept."));
    EXPECT_EQ(d->instructions.size(), 2560u);
    EXPECT_TRUE(said("more than 2560 instructions; the rest are ignored."));
    EXPECT_EQ(d->ir_capture.size(), 99u);
    EXPECT_TRUE(said("INSTRUCTION_CAPTURE longer than 99 characters cut."));
    ASSERT_EQ(d->design_warnings.size(), 1u);
    EXPECT_EQ(d->design_warnings[0], std::string(2558, 'w') + "x") << "the last character stays";
    EXPECT_TRUE(said("(line 8): token longer than 2559 characters cut."));

    printed().clear();
    std::ostringstream buses;
    buses << kHeader << "port (";
    for (int i = 0; i < 5002; ++i) buses << "B" << i << ": in bit_vector(0 to 1);";
    buses << "X : in bit);\nconstant PQ8 : PIN_MAP_STRING := \"B1:(1,2,3)\";\n";
    d = parse(buses.str());
    EXPECT_TRUE(said("buses overflow: more than 5000 buses; 'B5000' and later ones are not kept."));
    EXPECT_TRUE(said("bus 'B1' has no index 2; the pin is not kept."));
    EXPECT_EQ(d->pins.size(), 2u);
}

TEST_F(BsdlTest, TruncatedAndBinaryInputEndsCleanly) {
    const std::string text =
        std::string(kHeader) +
        "port (D: inout bit_vector(3 downto 0));\n"
        "constant PQ8 : PIN_MAP_STRING := \"D:(1,2,3,4)\";\n"
        "attribute IDCODE_REGISTER of CHIP : entity is \"0001\" & \"1\";\n"
        "attribute INSTRUCTION_OPCODE of CHIP : entity is \"BYPASS (11), EXTEST (00)\";\n"
        "attribute BOUNDARY_LENGTH of CHIP : entity is 3;\n"
        "attribute BOUNDARY_REGISTER of CHIP : entity is \"2 (BC_1, D(3), output3, X, 1, 1, Z),\" "
        "& \"1 (BC_1, *, control, 1), 0 (BC_1, D(3), input, X)\";\n"
        "attribute DESIGN_WARNING of CHIP : entity is \"careful\";\n";
    for (size_t n = 0; n <= text.size(); ++n) {
        DescriptionPtr d = parse(text.substr(0, n));
        if (!d) continue;
        for (const PinMapEntry& pin : d->pins) {
            ASSERT_LT(pin.output_cell, static_cast<int>(d->cells.size())) << n;
            ASSERT_LT(pin.control_cell, static_cast<int>(d->cells.size())) << n;
        }
    }
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    DescriptionPtr d = parse(garbage.substr(0, 100) + kHeader + garbage);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name, "CHIP");
    EXPECT_EQ(printed().find_first_of(std::string("\x01\x7F\x80\xFF", 4)), std::string::npos)
        << "messages show binary as '?'";
}

TEST_F(BsdlTest, DumpPrintsTheDescription) {
    DescriptionPtr d = parse(std::string(kHeader) +
                             "port (LONGNAME: inout bit);\n"
                             "constant PQ8 : PIN_MAP_STRING := \"LONGNAME:P3\";\n"
                             "attribute INSTRUCTION_LENGTH of CHIP : entity is 2;\n"
                             "attribute INSTRUCTION_OPCODE of CHIP : entity is \"BYPASS (111)\";\n"
                             "attribute BOUNDARY_LENGTH of CHIP : entity is 2;\n"
                             "attribute BOUNDARY_REGISTER of CHIP : entity is\n"
                             "  \"1 (BC_2, LONGNAME, bidir, X, 0, 1, PULL1), 0 (BC_2, *, "
                             "controlr, 1)\";\n");
    printed().clear();
    bsdl_dump(d.get());
    EXPECT_EQ(printed(),
              "Name:CHIP\nPackage:PQ8\nIDCODE:00000000\nUSERCODE:00000000\nIR LENGTH:2\n"
              "IR CAP CODE:\nInstuction 1/1 name:BYPASS code:3\n"
              "pin name:\"LONGNAME\" num:\"P3\" outcell:1 incell:1 contcell:0\n"
              "cell 0000 *        BC_2 controlr    1 -001   Z      \n"
              "cell 0001 LONGNAME BC_2 bidir       X 0000 1 PULL1  \n");
    printed().clear();
    bsdl_dump(nullptr);
    EXPECT_EQ(printed(), "Can not open bsdl file\n");
}

// Every virtual FPGA's file reads without a message into what the board and the database know.
TEST_F(BsdlTest, TheVirtualPartsFilesDescribeTheirModels) {
    for (const sim::XilinxPart& part : sim::xilinx_parts()) {
        std::string lower_name;
        for (char c : std::string(part.name) + "_" + part.package) lower_name += std::tolower(c);
        const std::string path = std::string(VIREO_BIN_DIR) + "/bsdl/" + lower_name + ".bsd";
        std::ifstream built(path);
        std::stringstream file;
        file << built.rdbuf();
        ASSERT_EQ(file.str(), sim::boundary_bsdl(part)) << path << " is the build's output";

        printed().clear();
        DescriptionPtr d(bsdl_read(path.c_str()), devdesc_free);
        ASSERT_TRUE(d) << path;
        EXPECT_EQ(printed(), "") << path;
        const sim::BoundaryLayout layout = sim::boundary_layout(part);
        EXPECT_EQ(d->cells.size(), static_cast<size_t>(part.bsr_len));
        EXPECT_EQ(d->pins.size(), static_cast<size_t>(layout.package_pins));
        EXPECT_EQ(d->idcode & d->idcode_mask, part.idcode & 0x0FFFFFFF);
        EXPECT_EQ(d->ir_capture, "XXXX01");
        for (const InstructionDef& ins : d->instructions) {
            if (ins.name != "EXTEST" && ins.name != "SAMPLE" && ins.name != "IDCODE") continue;
            const auto decoded = sim::decode_instruction(
                part.family, static_cast<uint8_t>(bits_value(ins.opcode.c_str())));
            EXPECT_EQ(decoded, ins.name == "EXTEST"   ? sim::XilinxInstr::Extest
                               : ins.name == "SAMPLE" ? sim::XilinxInstr::Sample
                                                      : sim::XilinxInstr::Idcode)
                << part.name << " " << ins.name;
        }
        const PinMapEntry& led = d->pins[layout.linkage.size() + 2];
        EXPECT_EQ(led.port, "LED0");
        EXPECT_EQ(led.control_cell, layout.pads[2].control_cell);
        EXPECT_EQ(led.output_cell, layout.pads[2].output_cell);
        EXPECT_EQ(led.input_cell, layout.pads[2].input_cell);
    }
}

}  // namespace
}  // namespace vireo::test
