// SIGTERM and SIGINT for the two executables: the end they ask for runs on a thread of its own,
// never inside a signal handler, so it may write files and take locks.
#pragma once

#include <functional>

// From now on SIGTERM and SIGINT run fnEnd(nSignal) on a watcher thread; fnEnd must end the
// process (see DieOfSignal). Once per process; child processes get the default actions back.
void OnTerminationSignal(std::function<void(int nSignal)> fnEnd);
// Ends the process as nSignal's default action would: whoever waits for it sees the signal.
[[noreturn]] void DieOfSignal(int nSignal);
