// streams.h - what each kind of simulated instrument says.
//
// Five kinds, each a stream of messages that instrument-sim paces onto a line:
//   nmea     a GPS receiver: once a second a burst of NMEA 0183 sentences
//            (GGA, GSA, GSV, RMC, VTG) for the present UTC time, each
//            "$<body>*<checksum>\r\n" with the checksum the XOR of the body's
//            bytes as two upper-case hexadecimal digits. 4800 baud.
//   weather  a weather station: one ASCII line a second,
//            "0R0,Dm=...D,Sm=...M,Ta=...C,Ua=...P,Pa=...H,Rc=...M\r\n"
//            (wind direction and speed, air temperature, humidity, pressure,
//            rain). 9600 baud.
//   binary   a digitiser: 50 framed records a second, 39 bytes each:
//              0xA5 0x5A     sync
//              u16           record number
//              u8            payload length, 32
//              16 bytes      byte i is (16 * record number + i) mod 256, so
//                            every byte value, zero included, turns up in
//                            each run of 16 records
//              4 x i32       samples, small signed values (zero and 0xFF bytes)
//              u16           CRC-16/CCITT (polynomial 0x1021, start 0xFFFF)
//                            of the record number, length and payload
//            integers little-endian. 38400 baud.
//   chatty   a talkative instrument console: numbered ASCII lines ending in
//            CRLF, without a pause. 115200 baud.
//   pattern  the seeded pattern of pattern.h from offset 0, without a pause.
//            9600 baud.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace sim {

enum class Kind { nmea, weather, binary, chatty, pattern };
enum { KIND_COUNT = 5 };

struct KindInfo {
    Kind kind;
    const char *name;
    int defaultRate;
    double period; // seconds from one message to the next; 0: talks without a pause
    bool binary;   // better watched as hexadecimal than as text
};

// The kind called `name`, or nullptr.
const KindInfo *find_kind(const char *name);
const KindInfo &kind_info(Kind kind);

// Large enough for the longest message of any kind (the GPS burst, about 400 bytes).
enum { MESSAGE_MAX = 1024 };

struct Stream {
    Kind kind = Kind::pattern;
    std::uint64_t seed = 0;
    std::uint64_t messages = 0; // messages made so far
    std::uint64_t offset = 0;   // bytes made so far
};

// Makes the stream's next message, describing the moment `wall` (UTC), in
// out (MESSAGE_MAX bytes); returns its length, at least 1.
std::size_t next_message(Stream &stream, const timespec &wall, unsigned char *out);

} // namespace sim
