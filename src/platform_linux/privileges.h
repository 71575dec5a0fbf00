#pragma once

// Gives up what a run as root no longer needs once its clocks are chosen:
// root itself (for user and group 65534) and every capability. The HPET's
// mapping and the PM timer's port stay. Where it has no right to switch,
// the run goes on as it is.
void GiveUpPrivileges();

// Whether the capability (linux/capability.h's number) is in effect. A
// call that a confined service may not make (its system call filter would
// end the program) is made only with the capability that it needs.
bool HoldsCapability(unsigned capability);
