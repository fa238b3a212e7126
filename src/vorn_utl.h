// vorn_utl - days, day directories, data-file names, and opening data files.
//
// The day of year (1..366) names the day directory "Dddd" in the start-up
// directory and starts every data-file name. A data file is named
//     ddd sssss . C pp      e.g. 04500065.C07
// day of year (3 digits), seconds since midnight (5 digits), ".C", port (2
// digits); the first 10 characters, shared by all files opened together, are
// the file-name base. Names carry no year: the same name recurs a year later,
// so an existing data file is appended to, never emptied.
//
// Beside each data file Dddd/name lies its arrival-time index Tddd/name, in
// a directory of its own so that the data files and their directories stay
// exactly the instruments' bytes. The index tells when the bytes arrived:
// records of (bytes, first arrival, last arrival), one per burst of reads
// less than INDEX_BURST_GAP_US apart within a tick, and gap records where
// bytes the engine could not keep (it fell behind) would have been. It is
// written with the data, after it, in the same tick, so it never claims
// bytes the data file does not hold. Its format is in index_format.h and
// docs/arrival-index.md. Every opening of the index starts a segment, so a
// file appended to later (a reopen, the same name a year on) stays readable.
// An index that holds bytes when its data file is made anew (the old one was
// archived) is renamed "<name>.stale-N" and a fresh one begun.
#pragma once

#include "engine.h"
#include "index_format.h"
#include "run_state.h"

// Data files are opened write-only, binary, and appended to (made when
// missing): never emptied, since a name recurs on the same day of a later
// year, and at the hour repeated when the clocks go back.
enum { DATA_FILE_ACCESS = 2, DATA_FILE_ACTION = 1, DATA_FILE_TYPE = 0 };

extern const int cal_day[2][13]; // days before each month (column 1..12), normal and leap year

// 1 for a Gregorian leap year, else 0.
int isleap(int year);
// Day of year 1..366 of a date straight from the clock (not range-checked).
int calc_julian(int month, int day, int year);
// Reads the clock; returns 1 when today is jday, else sets jday to today and
// returns 0. Only the day of year is compared, not the year.
int ck_julian(void);

// Makes base_dir current again. 1 on success; 0 after the "Disk ERROR!" popup.
int back_ddr(void);
// Makes the day directory of jday (when missing) inside the current
// directory, which must be the base directory, and enters it. 1 on success;
// 0 after the "Disk ERROR!" popup.
int create_ddr(void);
// Builds file_nm_base from a new reading of the clock.
void create_fn_base(void);
// Writes the data-file name of port (1..18) into name: the base and the port.
void create_fn(char name[PATH_LEN], int port);

// Opens the port's data file file_name[port] in the current directory, in
// the data-file mode above, into file_handle[port]; returns the handle, -1
// when the file cannot be opened. The one place where data files are opened.
// While index_enabled, it also opens the file's index (Tddd/name beside the
// day directory, made when missing) into index_handle[port], NO_HANDLE when
// that cannot be opened: the data go on without it.
int open_data_file(int port);
// Closes the port's data file and its index, if open.
void close_data_file(int port);

// Opens the index of the port's data file, open (file_handle) in the day
// directory, and starts a segment at the data file's end. A stale index (it
// holds bytes, this run did not begin it, and the data file is empty) is
// renamed "<name>.stale-N" first. Without it (the index directory or file
// cannot be made) index_handle[port] is NO_HANDLE, reported by file_refused,
// and the tick tries again before its next write.
void open_index_file(int port);
void close_index_file(int port);
// After `written` bytes went to the port's data file: appends their records
// to its index, from the arrival marks of the bytes (which may cover more
// than were written) merged into bursts; a read earlier than its burst's
// last (the clock was set back) starts a burst of its own. Marks that cover
// less start a new segment after the bytes, so that no record is ever placed
// wrong; an index that refuses a write is closed (the next opening starts a
// new segment). A gap mark among them (bytes the engine could not keep)
// becomes a gap record where it lies, unless it lies beyond what the data
// file took.
void index_bytes(int port, const ComArrival *arrivals, int count, int written);

// A disk that refuses a port's data file or its index is reported on stderr
// once an episode: one line when it starts refusing (the port, the file and
// why), one when it takes writes again (how long it refused and how many
// bytes were lost, or left without their arrival times).
enum { REFUSED_DATA = 0, REFUSED_INDEX = 1 };
// An open or write of the port's data file (REFUSED_DATA) or index
// (REFUSED_INDEX) failed just now; `lost` more bytes are lost with it.
void file_refused(int port, int which, long long lost);
// A write of it succeeded: an episode of refusals ends.
void file_took(int port, int which);

// At the start of a run: opens the port's data file (open_data_file) and
// labels the port's display slot. When the open fails the operator is asked
// whether to go on without the port: yes sets file_stat[port] to 0. Returns 0
// only when the operator declined, 255 otherwise.
int ck_file_stat(int port);
