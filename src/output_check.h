#pragma once

// Lines that never reach their reader must not pass for a quiet run: a log
// that lost a report reads as "no leap".

// Sends what standard output holds on its way. Where that or an earlier
// write failed (a full disk, a pipe whose reader is gone, an I/O error),
// says so on standard error, naming the error, and ends the run with
// status 1.
void FlushOutputOrExit();
