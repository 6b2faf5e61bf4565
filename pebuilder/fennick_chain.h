// How one Fennick page opens its neighbour: every page ends its own modal
// loop and then runs the next one modally from its button handler, so the
// pages name each other only through this table (the page files do not
// include one another).
#pragma once

enum class FennickPage { kAgreement, kKit, kBuild, kFinal };

// Constructs the page and runs it modally; returns when it ends.
void RunFennickPage(FennickPage page);

// Every regular way out of the program.
[[noreturn]] void EndFennick();
