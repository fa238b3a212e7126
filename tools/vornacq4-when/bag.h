// bag.h - BagIt bags (RFC 8493, version 1.0) of a start-up directory's
// recordings, for handing them over whole: what making a bag (bag.cpp) and
// checking one (bag_check.cpp) share.
//
// A bag OUT holds bagit.txt, bag-info.txt, data/ with the day directories
// (Dddd/, Tddd/) and coms.cfg, comports.map and network.map as they lie in
// the start-up directory, a payload manifest per algorithm
// (manifest-md5.txt, manifest-sha256.txt: "checksum  data/path" a line, as
// md5sum -c and sha256sum -c read them) and a tag manifest per algorithm
// over the other tag files. Files are read in pieces: memory stays the same
// whatever their size.
#pragma once

#include "digest.h"
#include "options.h"

#include <cstdio>
#include <string>

namespace when {

// A payload path as a manifest writes it: '%', CR and LF percent-encoded.
std::string encode_path(const std::string &path);
// The path a manifest line names; false on a malformed %-escape.
bool decode_path(const std::string &text, std::string &path);

// Reads the regular file `path` through once, as long as it was when it
// was opened, into `digests` and, unless `out` is null, into `out`. The
// bytes read, or -1 with a message in `error`.
long long stream_file(const std::string &path, Digests &digests, std::FILE *out, std::string &error);

// "12.3 MB": a size as bag-info.txt's Bag-Size gives it (powers of 1000).
std::string human_size(long long bytes);

// The bag command: makes a bag, or with --verify checks one. Exit status
// 0 done (a valid bag), 1 the bag cannot be made or is not valid, 2 a
// wrong command line.
int cmd_bag(Args args);
// bag_check.cpp: checks the bag in `bag`, naming on stderr what is wrong.
int check_bag(const std::string &bag);

} // namespace when
