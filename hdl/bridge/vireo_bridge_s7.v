// The SPI bridge on a 7-series FPGA (Artix-7, Spartan-7, Kintex-7). USER1 and USER2 come from
// two BSCANE2 primitives; the flash's chip select, MOSI and MISO are the multi-function pins
// FCS_B, D00_MOSI and D01_DIN, which are user I/O once configured; CCLK is not a user pin, so
// SCK leaves through STARTUPE2 (USRCCLKO). build.tcl places the three pins for each package.
`default_nettype none

module vireo_bridge_s7 (
    output wire spi_cs_n,  // FCS_B
    output wire spi_mosi,  // D00_MOSI
    input  wire spi_miso   // D01_DIN
);
    wire tck_pin, tck, tdi, reset, capture, shift, update, sel1, sel2, tdo1, tdo2;
    wire cs_n, sck;

    // The TAP signals are the same on both primitives; only SEL and TDO are per instruction.
    BSCANE2 #(.JTAG_CHAIN(1)) user1 (
        .CAPTURE(capture), .DRCK(), .RESET(reset), .RUNTEST(), .SEL(sel1), .SHIFT(shift),
        .TCK(tck_pin), .TDI(tdi), .TMS(), .UPDATE(update), .TDO(tdo1));
    BSCANE2 #(.JTAG_CHAIN(2)) user2 (
        .CAPTURE(), .DRCK(), .RESET(), .RUNTEST(), .SEL(sel2), .SHIFT(), .TCK(), .TDI(),
        .TMS(), .UPDATE(), .TDO(tdo2));
    BUFG tck_buffer (.I(tck_pin), .O(tck));

    vireo_spi_bridge core (
        .tck(tck), .tdi(tdi), .reset(reset), .capture(capture), .shift(shift), .update(update),
        .sel1(sel1), .sel2(sel2), .tdo1(tdo1), .tdo2(tdo2), .cs_n(cs_n), .sck(sck),
        .sck_enable(), .mosi(spi_mosi), .miso(spi_miso));
    assign spi_cs_n = cs_n;

    // After configuration STARTUPE2 spends the first three USRCCLKO cycles switching CCLK over
    // to it; they never reach the pin. Three TCK pulses with chip select high spend them before
    // the first transaction (the flash ignores SCK while deselected).
    reg [1:0] primed = 2'd0;
    reg priming = 1'b0;
    always @(negedge tck) priming <= primed != 2'd3;
    always @(posedge tck) if (priming & cs_n) primed <= primed + 2'd1;
    wire cclk = sck | (tck & priming & cs_n);

    STARTUPE2 #(.PROG_USR("FALSE")) startup (
        .CFGCLK(), .CFGMCLK(), .EOS(), .PREQ(), .CLK(1'b0), .GSR(1'b0), .GTS(1'b0),
        .KEYCLEARB(1'b1), .PACK(1'b0), .USRCCLKO(cclk), .USRCCLKTS(1'b0), .USRDONEO(1'b1),
        .USRDONETS(1'b1));
endmodule

`default_nettype wire
