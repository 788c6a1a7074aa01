// The SPI bridge behind the FPGA's USER1 and USER2 instructions, family-neutral: the top-levels
// (vireo_bridge_s7.v, vireo_bridge_s6.v) connect it to their boundary-scan primitives and pins.
//
// USER2 is a 128-bit register. Capture-DR loads the descriptor "NORVALE JSPI1.0" + NUL, first
// character in bits 7:0 (it leaves first, least significant bit first); Update-DR takes the
// header shifted in: bits 39:8 are the clocks to skip (`skip`), bits 71:40 the clock at which
// the transaction ends (`stop`).
//
// Each USER1 scan is one SPI transaction (mode 0). Counting the scan's Shift-DR clocks from 0,
// chip select is low from clock `skip` to clock `stop` - 1 and SCK pulses on exactly those
// clocks; TDI goes straight to MOSI (the host sends most significant bit first) and MISO is
// registered on the rising edge, so TDO shows it one clock later. Clocks outside the window
// shift zeros out. A scan that ends before `stop` raises chip select as it leaves Update-DR.
// Skipping clocks lets the data reach the FPGA through the devices in BYPASS before it on the
// chain.
//
// Everything runs on TCK; there is no clock of its own. State changes on the rising edge; the
// falling edge only re-times chip select and the SCK enable, so that SCK (TCK gated by that
// enable) has no glitch and chip select settles half a clock before the first and after the
// last SCK edge.
`default_nettype none

module vireo_spi_bridge (
    input  wire tck,
    input  wire tdi,
    input  wire reset,    // TAP in Test-Logic-Reset
    input  wire capture,  // TAP in Capture-DR
    input  wire shift,    // TAP in Shift-DR
    input  wire update,   // TAP in Update-DR
    input  wire sel1,     // USER1 is the instruction
    input  wire sel2,     // USER2 is the instruction
    output wire tdo1,
    output wire tdo2,
    output wire cs_n,
    output wire sck,         // TCK while sck_enable is high
    output wire sck_enable,  // for tops that forward TCK through an output DDR register
    output wire mosi,
    input  wire miso
);
    localparam [127:0] DESCRIPTOR = 128'h00302E31_4950534A_20454C41_56524F4E;

    // USER2: descriptor out, header in. Capture and shift need no logic of their own on
    // Xilinx parts (synchronous set/reset and clock enable of the flip-flops); the register
    // powers up holding the descriptor, as Spartan-6 ties a flip-flop's set value to its
    // initial one (nothing reads it before the first Capture-DR).
    reg [127:0] control = DESCRIPTOR;
    reg [31:0] skip = 32'd0, stop = 32'd0;
    always @(posedge tck) begin
        if (capture & sel2) control <= DESCRIPTOR;
        else if (shift & sel2) control <= {tdi, control[127:1]};
        if (update & sel2) begin
            skip <= control[39:8];
            stop <= control[71:40];
        end
    end
    assign tdo2 = control[0];

    // USER1. `count` is the number of the next Shift-DR clock. The window is open from the
    // clock numbered `skip` until the one numbered `stop`; a mark the count has gone past is
    // remembered, so a count that wraps past 2^32 never reopens the window, and a window whose
    // end comes first never opens.
    wire start1 = capture & sel1;
    wire shift1 = shift & sel1;
    reg [31:0] count = 32'd0;
    reg skip_passed = 1'b0, stop_passed = 1'b0;
    reg closed = 1'b1;    // Update-DR or reset ended the scan; Capture-DR starts the next one
    reg miso_q = 1'b0;
    reg selected = 1'b0;  // chip select low
    reg clock_on = 1'b0;  // SCK follows TCK
    wire at_skip = count == skip;
    wire at_stop = count == stop;
    wire window = (skip_passed | at_skip) & ~(stop_passed | at_stop) & ~closed;
    always @(posedge tck) begin
        if (start1) begin
            count <= 32'd0;
            skip_passed <= 1'b0;
            stop_passed <= 1'b0;
        end else if (shift1) begin
            count <= count + 32'd1;
            skip_passed <= skip_passed | at_skip;
            stop_passed <= stop_passed | at_stop;
        end
        closed <= (closed & ~start1) | (update & sel1) | reset;
        if (start1) miso_q <= 1'b0;
        else if (shift1) miso_q <= clock_on & miso;
    end
    assign tdo1 = miso_q;

    // Chip select and the SCK enable, taken on the falling edge in the state the next rising
    // edge leaves: SCK runs only in Shift-DR; chip select falls only before an SCK edge (a
    // scan that ends at the skip mark selects nothing) and stays low through Pause-DR.
    always @(negedge tck) begin
        selected <= window & (selected | shift1);
        clock_on <= window & shift1;
    end
    assign cs_n = ~selected;
    assign sck = tck & clock_on;
    assign sck_enable = clock_on;
    assign mosi = tdi;
endmodule

`default_nettype wire
