#pragma once
// Interrupts on the command line: the first Ctrl-C (or a termination request) cancels the
// run at its next event point, so it can clean up; a second one ends the program at once.

namespace zelk::cli {

void installInterruptHandler();
bool interruptRequested();

}  // namespace zelk::cli
