// The SPI bridge on a Spartan-6 FPGA. USER1 and USER2 come from two BSCAN_SPARTAN6 primitives;
// the flash sits on the dual-purpose configuration pins CSO_B, CCLK, MOSI and DIN, all user I/O
// once configured. build.tcl places the four pins for each package. SCK is TCK forwarded
// through an ODDR2, so no clock net drives logic: high while TCK is high on an SPI clock.
`default_nettype none

module vireo_bridge_s6 (
    output wire spi_cs_n,  // CSO_B
    output wire spi_sck,   // CCLK
    output wire spi_mosi,  // MOSI
    input  wire spi_miso   // DIN
);
    wire tck_pin, tck, tdi, reset, capture, shift, update, sel1, sel2, tdo1, tdo2;
    wire sck_enable;

    // The TAP signals are the same on both primitives; only SEL and TDO are per instruction.
    BSCAN_SPARTAN6 #(.JTAG_CHAIN(1)) user1 (
        .CAPTURE(capture), .DRCK(), .RESET(reset), .RUNTEST(), .SEL(sel1), .SHIFT(shift),
        .TCK(tck_pin), .TDI(tdi), .TMS(), .UPDATE(update), .TDO(tdo1));
    BSCAN_SPARTAN6 #(.JTAG_CHAIN(2)) user2 (
        .CAPTURE(), .DRCK(), .RESET(), .RUNTEST(), .SEL(sel2), .SHIFT(), .TCK(), .TDI(),
        .TMS(), .UPDATE(), .TDO(tdo2));
    BUFG tck_buffer (.I(tck_pin), .O(tck));

    vireo_spi_bridge core (
        .tck(tck), .tdi(tdi), .reset(reset), .capture(capture), .shift(shift), .update(update),
        .sel1(sel1), .sel2(sel2), .tdo1(tdo1), .tdo2(tdo2), .cs_n(spi_cs_n), .sck(),
        .sck_enable(sck_enable), .mosi(spi_mosi), .miso(spi_miso));

    ODDR2 #(.DDR_ALIGNMENT("NONE"), .INIT(1'b0), .SRTYPE("SYNC")) sck_out (
        .Q(spi_sck), .C0(tck), .C1(~tck), .CE(1'b1), .D0(sck_enable), .D1(1'b0), .R(1'b0),
        .S(1'b0));
endmodule

`default_nettype wire
