// vornacq4-when - when did the bytes of a data file arrive?
//
// The logger keeps, beside each data file Dddd/name, an arrival-time index
// Tddd/name. This tool reads it:
//
//   vornacq4-when when FILE OFFSET          the arrival time of byte OFFSET
//   vornacq4-when slice FILE FROM TO [-o OUT]
//                                           the bytes that arrived from FROM
//                                           (included) to TO (excluded)
//   vornacq4-when replay FILE... [--to DEVICE [--baud N]] [--speed N]
//                            [--delay S] [--max-gap S]
//                                           the bytes of consecutive files at
//                                           their original pace (N times
//                                           faster), onto the terminal DEVICE
//                                           (raw, at N baud) or onto a new
//                                           pseudo-terminal whose name it
//                                           prints (Windows has none: --to
//                                           COMn there); a clock set back is no
//                                           wait, and no silence lasts longer
//                                           than --max-gap (600 s)
//   vornacq4-when check FILE                whether the index and the data
//                                           file agree, and what it covers
//   vornacq4-when records FILE [--csv]      the index itself: offset, bytes,
//                                           first and last arrival a record
//   vornacq4-when lines FILE... [--csv]     each line (ended by LF, CR LF or
//                                           CR) of consecutive files with the
//                                           time its first byte arrived
//   vornacq4-when coverage DIR|FILE... [--gap S]
//                                           what time each file covers, its
//                                           bytes, and its silences longer
//                                           than S seconds (60)
//   vornacq4-when bag OUT [--from DAY --to DAY] [--info KEY=VALUE]...
//                     [--closed-only] DIR
//                                           a BagIt bag in OUT of the start-up
//                                           directory DIR's day directories
//                                           and configuration files
//   vornacq4-when bag --verify BAG          whether a bag is whole and right
//
// Options come before or after the operands; -- ends them.
//
// Times in: 2024-02-14T15:03:00 local time (as the data files are named), a
// fraction if you like, then Z for UTC or +hh:mm/-hh:mm for that offset; or
// @1707919380.5 (seconds since 1970). Times out: ISO 8601 with the offset,
// local time, or UTC with --utc. Within a burst of reads the bytes are taken
// to have arrived evenly from its first read to its last.
//
// Exit status: 0 done, 1 the files do not tell (no index, an offset or time
// outside it, nothing found, an index that does not agree with its data
// file), 2 a wrong command line.
//
// The tool is split by job: files.cpp opens what it reads safely,
// index.cpp reads the index, times.cpp reads and writes times, options.cpp
// reads command lines, commands.cpp answers from one file, views.cpp shows
// many, replay.cpp plays them back, bag*.cpp make and check bags.
// What differs between systems is behind files.h, zone.h, device.h and
// console.h, each with a POSIX and a Win32 file.
#include "bag.h"
#include "commands.h"
#include "console.h"

#include <string>

int main(int argc, char *argv[])
{
    // The arguments in UTF-8 and an output that passes bytes as they are.
    const when::Args all = when::arguments(argc, argv);
    when::binary_output();
    if (all.empty())
        return when::usage();
    const std::string command = all[0];
    const when::Args args(all.begin() + 1, all.end());
    if (command == "when")
        return when::cmd_when(args);
    if (command == "slice")
        return when::cmd_slice(args);
    if (command == "replay")
        return when::cmd_replay(args);
    if (command == "check")
        return when::cmd_check(args);
    if (command == "records")
        return when::cmd_records(args);
    if (command == "lines")
        return when::cmd_lines(args);
    if (command == "coverage")
        return when::cmd_coverage(args);
    if (command == "bag")
        return when::cmd_bag(args);
    return when::usage();
}
