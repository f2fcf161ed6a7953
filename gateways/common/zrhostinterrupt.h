// The host application's interrupt request (Ctrl-C), as the check that the
// core library asks while a call waits. The core knows nothing of the host;
// each gateway hands it this check.
#pragma once

#include <csignal>

#ifdef ZR_MATLAB_HOST
// MATLAB's own interrupt flag (libut).
extern "C" bool utIsInterruptPending(void);
extern "C" bool utSetInterruptPending(bool);
#else
// Octave's pending-interrupt counter: above 0 while an interrupt waits to
// be handled (quit.h of liboctave).
extern "C" sig_atomic_t octave_interrupt_state;
#endif

namespace ZR {

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
    if (octave_interrupt_state <= 0)
        return false;
    octave_interrupt_state = 0;
    return true;
#endif
}

}  // namespace ZR
