// SPDX-License-Identifier: GPL-2.0-or-later
// The host application's interrupt request (Ctrl-C) and its pending
// termination signals, as the check that the core library asks while a call
// waits. The core knows nothing of the host; each gateway hands it this check.
#pragma once

#include <csignal>

#ifdef ZR_MATLAB_HOST
// MATLAB's own interrupt flag (libut).
extern "C" bool utIsInterruptPending(void);
extern "C" bool utSetInterruptPending(bool);
#else
#include <unistd.h>

#include <cstdio>

// octave_interrupt_state: above 0 while a Ctrl-C waits to be handled;
// octave_signal_caught: set by Octave's handler of every other signal it
// catches (SIGTERM, SIGHUP, SIGCHLD, ...) until the interpreter acts on it;
// octave::exit_exception: how the interpreter is told to end.
#include <octave/quit.h>
// octave::respond_to_pending_signals: what the interpreter does with the
// signals caught: a termination signal ends Octave, the end of a child is
// noted, a broken pipe or floating-point exception is warned about.
#include <octave/sighandlers.h>
#endif

namespace ZR {

#ifndef ZR_MATLAB_HOST
// Lets Octave act on the signals it caught while a call waits, as it does
// between two statements: SIGTERM or SIGHUP end Octave at once instead of
// after the call. Octave keeps which signals it caught to itself, and the
// error that would end the call first makes Octave forget them; so it acts
// here. Runs on the interpreter thread, where the call waits.
inline void respondToHostSignals()
{
    if (!octave_signal_caught)
        return;
    octave_signal_caught = 0;
    try {
        octave::respond_to_pending_signals();
    } catch (const octave::exit_exception& exit) {
        // Octave has said it stops ("fatal: caught signal ...") and would
        // unwind to its top level to exit. No exception may cross the core
        // library in the middle of a call, so the process ends here.
        std::fflush(nullptr);
        ::_exit(exit.exit_status());
    } catch (...) {
        // Anything else Octave raises here is for its prompt; the call goes on.
    }
}
#endif
// MATLAB's API tells nothing of signals other than Ctrl-C.

// Whether the user asked the host to stop. The request is taken: the call
// that notices it ends with its own error, which the user can catch, and the
// host does not act on it a second time.
inline bool hostInterruptRequested()
{
#ifdef ZR_MATLAB_HOST
    if (!utIsInterruptPending())
        return false;
    utSetInterruptPending(false);
    return true;
#else
    respondToHostSignals();
    if (octave_interrupt_state <= 0)
        return false;
    octave_interrupt_state = 0;
    return true;
#endif
}

}  // namespace ZR
