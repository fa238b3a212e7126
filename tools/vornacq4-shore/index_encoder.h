// index_encoder.h - the arrival-time index the shore writes beside its copy
// of a data file, in the logger's own format (docs/arrival-index.md), so
// that vornacq4-when reads the copy as it reads the station's files. The
// one place the shore encodes it.
#pragma once

#include <string>

namespace shore {

// A segment mark: the data file's length when the index was opened, and
// its flags (0: whether the station's clock was synchronised is not known here).
std::string segment_mark(long long offset);

// A record of `bytes` bytes that arrived from `first` to `last`
// (microseconds since 1970), after a record that began at `previousFirst`
// (0 for a segment's first).
std::string data_record(long long bytes, long long first, long long last, long long previousFirst);

// A gap record: `missing` bytes the station could not keep, lost from
// `first` to `last`, where the copy ends now. It covers no byte of the copy.
std::string gap_record(long long missing, long long first, long long last, long long previousFirst);

} // namespace shore
