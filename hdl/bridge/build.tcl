# Builds the SPI bridge of this folder for one FPGA with the vendor's tools, as the bitstream the
# programs look for (spi_<part>.bit, e.g. spi_xc7a100t.bit), in the current folder.
#
#   7-series (Vivado, non-project flow):
#     vivado -mode batch -source hdl/bridge/build.tcl -tclargs xc7a100t csg324 [IOSTANDARD]
#   Spartan-6 (ISE's command-line tools, driven from its Tcl shell):
#     xtclsh hdl/bridge/build.tcl xc6slx16 csg324 [IOSTANDARD]
#
# (ISE's xtclsh is an older Tcl: the script keeps to what Tcl 8.4 has.)
# IOSTANDARD is the I/O standard of the flash pins, after the configuration bank's supply on the
# board: LVCMOS33 (the default), LVCMOS25 or LVCMOS18. Without a package the script lists the
# part/package pairs it knows. Then copy the file to ~/.local/share/vireojtag/ (or beside the
# programs) and run `vireo flash id`: its log names the bridge file it loaded.
#
# The flash pins are the configuration pins of each package (the tables below): on 7-series
# FCS_B, D00_MOSI and D01_DIN, with SCK through STARTUPE2 because CCLK is no user pin; on
# Spartan-6 CSO_B, CCLK, MOSI and DIN. Unused pins, the flash's WP#/HOLD# on quad-SPI boards
# among them, get weak pull-ups. Startup: the 7-series module gives no JSTART, so those parts
# start on their configuration clock (the default); the Spartan-6 module clocks JSTART, so
# those start on TCK. The Zynq-7000 is not here: its flash hangs on the processor system, which
# its programmable logic cannot reach.

# part package -> chip select, MOSI, MISO (7-series: FCS_B, D00_MOSI, D01_DIN)
set series7_pins {
    {xc7a100t csg324}  {L13 K17 K18}
    {xc7a100t ftg256}  {L12 J13 J14}
    {xc7a100t fgg484}  {T19 P22 R22}
    {xc7a200t fbg484}  {T19 P22 R22}
    {xc7a200t sbg484}  {T19 P22 R22}
    {xc7s50 csga324}   {M13 K17 K18}
    {xc7s50 ftgb196}   {C11 B11 B12}
    {xc7k160t fbg676}  {C23 B24 A25}
}
# part package -> chip select, SCK, MOSI, MISO (Spartan-6: CSO_B, CCLK, MOSI, DIN)
set spartan6_pins {
    {xc6slx4 tqg144}   {P38 P70 P64 P65}
    {xc6slx9 tqg144}   {P38 P70 P64 P65}
    {xc6slx9 ftg256}   {T3 R11 T10 P10}
    {xc6slx16 ftg256}  {T3 R11 T10 P10}
    {xc6slx25 ftg256}  {T3 R11 T10 P10}
    {xc6slx9 csg324}   {V3 R15 T13 R13}
    {xc6slx16 csg324}  {V3 R15 T13 R13}
    {xc6slx25 csg324}  {V3 R15 T13 R13}
    {xc6slx45 csg324}  {V3 R15 T13 R13}
}

proc known_pairs {} {
    global series7_pins spartan6_pins
    set pairs {}
    foreach {pair pins} [concat $series7_pins $spartan6_pins] { lappend pairs [join $pair " "] }
    return $pairs
}

proc usage {why} {
    puts stderr "build.tcl: $why"
    puts stderr "usage: build.tcl PART PACKAGE \[LVCMOS33|LVCMOS25|LVCMOS18\]; it knows:"
    foreach pair [known_pairs] { puts stderr "  $pair" }
    exit 2
}

proc pins_of {table part package} {
    foreach {pair pins} $table {
        if {[lindex $pair 0] eq $part && [lindex $pair 1] eq $package} { return $pins }
    }
    return {}
}

if {[llength $argv] < 2 || [llength $argv] > 3} { usage "give the part and its package" }
set part [string tolower [lindex $argv 0]]
set package [string tolower [lindex $argv 1]]
set iostandard [expr {[llength $argv] == 3 ? [string toupper [lindex $argv 2]] : "LVCMOS33"}]
if {[lsearch -exact {LVCMOS33 LVCMOS25 LVCMOS18} $iostandard] < 0} {
    usage "unknown I/O standard $iostandard"
}
set here [file dirname [file normalize [info script]]]
set out [file join [pwd] "spi_$part.bit"]

if {[string match xc6s* $part]} {
    set pins [pins_of $spartan6_pins $part $package]
} else {
    set pins [pins_of $series7_pins $part $package]
}
if {$pins eq ""} { usage "no pin table for $part $package" }

if {![string match xc6s* $part]} {
    # 7-series: Vivado, non-project flow.
    if {[info commands synth_design] eq ""} {
        puts stderr "build.tcl: $part is built by Vivado: vivado -mode batch -source $here/build.tcl -tclargs $argv"
        exit 2
    }
    foreach {cs mosi miso} $pins break
    read_verilog [list $here/vireo_spi_bridge.v $here/vireo_bridge_s7.v]
    synth_design -top vireo_bridge_s7 -part ${part}${package}-1
    set_property PACKAGE_PIN $cs [get_ports spi_cs_n]
    set_property PACKAGE_PIN $mosi [get_ports spi_mosi]
    set_property PACKAGE_PIN $miso [get_ports spi_miso]
    set_property IOSTANDARD $iostandard [get_ports {spi_cs_n spi_mosi spi_miso}]
    set_property PULLUP true [get_ports spi_miso]
    # Bank 0's configuration voltage follows the flash pins' supply.
    if {$iostandard eq "LVCMOS18"} {
        set_property CFGBVS GND [current_design]
        set_property CONFIG_VOLTAGE 1.8 [current_design]
    } else {
        set_property CFGBVS VCCO [current_design]
        set_property CONFIG_VOLTAGE [expr {$iostandard eq "LVCMOS25" ? 2.5 : 3.3}] [current_design]
    }
    set tck [get_pins -quiet user1/TCK]
    if {[llength $tck]} { create_clock -name tck -period 30.000 $tck }
    set_property BITSTREAM.CONFIG.UNUSEDPIN Pullup [current_design]
    set_property BITSTREAM.GENERAL.COMPRESS TRUE [current_design]
    opt_design
    place_design
    route_design
    write_bitstream -force $out
} else {
    # Spartan-6: ISE's command-line flow in a scratch folder.
    if {[auto_execok xst] eq ""} {
        puts stderr "build.tcl: $part is built by ISE 14.7: source its settings64.sh, then xtclsh $here/build.tcl $argv"
        exit 2
    }
    foreach {cs sck mosi miso} $pins break
    set device ${part}-${package}-2
    set work [file join [pwd] "bridge_${part}_${package}"]
    file mkdir $work
    cd $work
    set f [open bridge.prj w]
    puts $f "verilog work \"$here/vireo_spi_bridge.v\""
    puts $f "verilog work \"$here/vireo_bridge_s6.v\""
    close $f
    set f [open bridge.xst w]
    puts $f "run -ifn bridge.prj -ifmt mixed -top vireo_bridge_s6 -p $device -ofn bridge.ngc -ofmt NGC -opt_mode Area -iobuf YES"
    close $f
    set f [open bridge.ucf w]
    foreach {port pin} [list spi_cs_n $cs spi_sck $sck spi_mosi $mosi spi_miso $miso] {
        puts $f "NET \"$port\" LOC = \"$pin\" | IOSTANDARD = $iostandard;"
    }
    puts $f "NET \"spi_miso\" PULLUP;"
    close $f
    exec xst -ifn bridge.xst -ofn bridge.syr >@ stdout 2>@ stderr
    exec ngdbuild -p $device -uc bridge.ucf bridge.ngc bridge.ngd >@ stdout 2>@ stderr
    exec map -p $device -w -o bridge_map.ncd bridge.ngd bridge.pcf >@ stdout 2>@ stderr
    exec par -w bridge_map.ncd bridge.ncd bridge.pcf >@ stdout 2>@ stderr
    exec bitgen -w -g StartupClk:JtagClk -g UnusedPin:Pullup -g Compress \
        bridge.ncd spi_$part bridge.pcf >@ stdout 2>@ stderr
    file copy -force spi_$part.bit $out
}
puts "build.tcl: wrote $out"
