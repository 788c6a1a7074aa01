#include "cli/flash_command.h"

#include "cli/flash_range.h"
#include "jtag/status.h"

namespace vireo::cli {

CLI::App* add_flash_command(CLI::App& cli, FlashCommand& c) {
    auto* flash = cli.add_subcommand(
        "flash",
        "The SPI configuration flash behind the FPGA, through the SPI bridge; the FPGA is "
        "restarted afterwards and boots from the flash");
    flash->require_subcommand(1);
    auto add_offset = [&c](CLI::App* command) {
        return command
            ->add_option("--offset", c.offset,
                         "Flash address: a hexadecimal byte address, with or without 0x "
                         "(default 0); on AT45 DataFlash parts with 528-byte pages page p "
                         "starts at address p x 0x400")
            ->type_name("ADDR")
            ->check(CLI::Validator(
                [](const std::string& text) { return check_hex_number(text, false); }, ""));
    };
    auto add_size = [&c](CLI::App* command, const char* what) {
        return command->add_option("--size", c.size, what)
            ->type_name("N")
            ->check(CLI::Validator(
                [](const std::string& text) { return check_hex_number(text, true); }, ""));
    };
    c.id = flash->add_subcommand("id", "Identify the flash and dump its identification");
    c.uid = flash->add_subcommand("uid", "Dump the flash's unique ID / security code");
    c.program = flash->add_subcommand(
        "program", "Program FILE (.bit, .bin, .mcs, .hex, .srec) into the flash, then verify it");
    c.program->add_option("FILE", c.file, "Image to program")->required();
    add_offset(c.program);
    c.program->add_flag("--no-trim", c.no_trim, "Keep the header of a .bit file");
    c.program->add_flag("--no-verify", c.no_verify, "Do not verify after programming");
    c.program->add_flag("--force", c.other_part,
                        "Write a .bit / .bin file made for another part than the FPGA");
    c.verify = flash->add_subcommand("verify", "Compare the flash with FILE");
    c.verify->add_option("FILE", c.file, "Image to compare with")->required();
    add_offset(c.verify);
    c.erase = flash->add_subcommand(
        "erase",
        "Erase the whole flash, or with --size the bytes from --offset (the sectors that hold "
        "them are erased, their other bytes kept), then check that they read blank");
    add_offset(c.erase)->needs(
        add_size(c.erase,
                 "Bytes to erase from --offset: a hexadecimal byte count (10000 = 64 KB); "
                 "without it the whole flash"));
    c.blank = flash->add_subcommand("blank", "Check that the flash is blank");
    c.read = flash->add_subcommand(
        "read", "Read the flash from the offset to its end (or --size bytes) into FILE");
    c.read->add_option("FILE", c.file, "File to write")->required();
    add_offset(c.read);
    add_size(c.read, "Bytes to read: a hexadecimal byte count (10000 = 64 KB)");
    c.read->add_flag("-f,--force", c.force, "Replace FILE when it exists, without asking");
    c.dump = flash->add_subcommand("dump",
                                   "Show 256 bytes (or --size bytes) of the flash from the offset");
    add_offset(c.dump);
    add_size(c.dump, "Bytes to show: a hexadecimal byte count (100 = 256 bytes)");
    return flash;
}

int run_flash(app::Session& session, TerminalUi& ui, const FlashCommand& c) {
    const uint32_t offset = parse_hex_number(c.offset);
    const int64_t count = c.size.empty() ? -1 : int64_t{parse_hex_number(c.size)};
    session.allow_other_part(c.other_part);
    // The input is checked before the bridge replaces the FPGA's design.
    using FlashOp = app::Session::FlashOp;
    const FlashOp op = *c.program  ? FlashOp::Program
                       : *c.verify ? FlashOp::Verify
                       : *c.read   ? FlashOp::Read
                       : *c.dump   ? FlashOp::Dump
                       : *c.erase  ? FlashOp::Erase
                                   : FlashOp::Other;
    int status = session.check_flash_input(op, c.file, offset, c.force, !c.no_trim, count);
    // A second Ctrl-C must not end the process with a sector erased and not written back.
    TerminalUi::protect(*c.program || *c.erase);
    if (status == JTAG_OK) {
        status = session.set_target(app::Target::SpiRom);
        const char* name = *c.program  ? "Program"
                           : *c.verify ? "Verify"
                           : *c.erase  ? "Erase"
                           : *c.blank  ? "BlankCheck"
                           : *c.read   ? "Readback"
                                       : nullptr;
        if (status != JTAG_OK && name)
            ui.show_result(
                std::string(name) + (status == JTAG_CANCELLED ? " Canceled" : " Failed!!"), status);
    }
    if (status != JTAG_OK) return status;
    if (*c.id) {
        status = session.flash_id();
    } else if (*c.uid) {
        status = session.flash_unique_id();
    } else if (*c.program) {
        status = session.flash_program(c.file, offset, !c.no_trim, !c.no_verify);
    } else if (*c.verify) {
        status = session.flash_verify(c.file, offset);
    } else if (*c.erase) {
        status = count < 0 ? session.flash_erase() : session.flash_erase(offset, count);
    } else if (*c.blank) {
        status = session.flash_blank();
    } else if (*c.read) {
        // Asked (or --force) before the board was touched.
        status = session.flash_read(c.file, offset, true, count);
    } else if (*c.dump) {
        status = session.flash_dump(offset, count);
    }
    // Leaving the flash restarts the FPGA, which boots from it (a program has already done so);
    // the log says whether it did, the command's result stands unless a Ctrl-C stopped the
    // restart: then the command did not finish.
    if (!*c.program) {
        const int restarted = session.set_target(app::Target::Fpga);
        if (status == JTAG_OK && restarted == JTAG_CANCELLED) status = restarted;
    }
    return status;
}

}  // namespace vireo::cli
