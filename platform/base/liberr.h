// liberr.h - reporting of failing serial and file operations on stderr.
//
// While reporting is enabled, a failure prints one line; the same error of
// the same subject (a port such as "COM3", or a file name), from whichever
// operation, is printed again only after that subject has had a different
// outcome, so a port that stays missing does not flood the output at every
// acquisition tick.
#pragma once

// Returns code unchanged, so callers can write `return lib_fail(...)`.
int lib_fail(const char *operation, const char *subject, int code, const char *text);
// A success of operation on subject: its next failure is reported again.
void lib_ok(const char *subject);
