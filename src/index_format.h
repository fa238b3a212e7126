// index_format.h - the arrival-time index's format, shared by the logger
// that writes it (vorn_utl_index.cpp) and the tools that read it
// (tools/vornacq4-when): its marks, versions, flags, limits and the layout of
// a record. Nothing else: a reader includes this and no run state. The whole
// format is told in docs/arrival-index.md.
//
// All integers are unsigned LEB128 varints, signed ones zigzag-encoded first.
//     segment  0x00 'V' 'T' 'I' version  varint(offset)  varint(flags)   (v2, v3)
//              0x00 'V' 'T' 'I' '1'      varint(offset)                  (v1)
//     record   v3: varint(2 * bytes) for data, varint(2 * missing + 1) for a gap
//              v2: varint(bytes)
//              then zigzag(first - previous first) + 1, varint(last - first) + 1
//              (v1: both times stored as they are)
// A data record covers the next `bytes` bytes of the data file; a gap record
// covers none: it sits where `missing` bytes the logger could not keep would
// have been. No v2 or v3 record holds a 0 byte, so every 0 begins a mark.
#pragma once

enum { INDEX_SEGMENT_MARK = 0x00 };
// The magic after the mark: the family "VTI" and a version digit.
#define INDEX_MAGIC "VTI3"
#define INDEX_MAGIC_V2 "VTI2"
#define INDEX_MAGIC_V1 "VTI1"
enum { INDEX_MAGIC_LEN = 4 };
// The version the logger writes, and the oldest and newest a reader knows.
enum { INDEX_VERSION = 3, INDEX_VERSION_OLDEST = 1 };

// A segment's flags (v2, v3): the system clock was kept synchronised when it
// began. A reader ignores the bits it does not know.
enum { INDEX_FLAG_CLOCK_SYNCHRONISED = 1 };

// A v3 record's first number: its bytes or missing bytes, shifted up one
// bit, with this bit set for a gap.
enum { INDEX_GAP_BIT = 1 };

// A varint of 63 bits takes 9 bytes; a tenth is allowed (its bits must be 0).
enum { INDEX_VARINT_MAX = 10 };
// A record is three varints; a segment's header the mark, the magic, two.
enum { INDEX_RECORD_MAX = 3 * INDEX_VARINT_MAX, INDEX_HEADER_MAX = 1 + INDEX_MAGIC_LEN + 2 * INDEX_VARINT_MAX };

// Reads less far apart than this make one record: 20 ms, finer than the
// 50 ms to which operators line their data up, coarse enough that a port at
// 115200 baud costs a record a tick (0.3% of its data).
enum { INDEX_BURST_GAP_US = 20000 };
