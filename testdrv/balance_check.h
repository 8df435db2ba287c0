#ifndef PADMAP_TESTDRV_BALANCE_CHECK_H
#define PADMAP_TESTDRV_BALANCE_CHECK_H

#include "testdrv/control.h"

// Runs padmap's own code in this process against the test driver, with
// padmap's kernel32 binding beneath it, and reports for each kind of run
// whether the process holds as many open handles and busy blocks of its heap
// after it as before: everything the binding took must have been given back.
// Each kind runs once before it is measured, so that what the C runtime and
// Windows set up once for a process does not count. A window of
// front_program (padmap-front-window.exe; it needs a display) is in front
// throughout, so that a configuration with sections asks for its program.
// The files balance.cfg and balance-sections.cfg (the configurations) and
// balance.out (padmap's standard output while it runs) are written in the
// working directory. Every run's exit status and
// output are checked too, so a run that did nothing cannot pass.
//
// report is called once per check, detail saying what went wrong.
typedef void (*balance_report)(bool ok, const char* name, const char* detail);
void check_balance(testctl_link* link, balance_report report, const wchar_t* front_program);

#endif
