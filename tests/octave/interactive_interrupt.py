#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Ctrl-C in an interactive Octave session on a pseudo-terminal.

interactive_interrupt.py OCTAVE-COMMAND...  (run through run_octave_test.sh,
which names the demo broker in $ZRT_BROKER)

Starts Octave interactively, makes a proxy, starts a call that never gets an
answer, types Ctrl-C, and checks that the prompt is back within a second and
that the next call on the same proxy works; then the same for the waits on a
call in the background, which must go on running. Then, in a new session,
sends SIGTERM and SIGHUP during such a call and checks that Octave ends at
once.
"""
import os
import pty
import select
import signal
import sys
import time

PROMPT = b"ZRT> "


class Session:
    def __init__(self, command):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execvp(command[0], command)
        self.seen = b""

    def send(self, text):
        os.write(self.fd, text.encode() if isinstance(text, str) else text)

    def wait_for(self, marker, seconds):
        """Seconds until `marker` appears in what Octave printed next, and
        the text before it."""
        start = time.monotonic()
        while True:
            found = self.seen.find(marker)
            if found >= 0:
                before = self.seen[:found].decode(errors="replace")
                self.seen = self.seen[found + len(marker):]
                return time.monotonic() - start, before
            left = start + seconds - time.monotonic()
            if left <= 0:
                raise AssertionError("no %r within %g s; Octave printed %r" % (marker, seconds, self.seen[-400:]))
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                try:
                    self.seen += os.read(self.fd, 4096)
                except OSError:
                    raise AssertionError("Octave ended; it printed %r" % self.seen[-400:])

    def command(self, text, seconds=20):
        """What Octave printed in answer to `text`."""
        self.send(text + "\n")
        return self.wait_for(PROMPT, seconds)[1]

    def ended_within(self, seconds):
        """Seconds until Octave ended, or None if it still runs."""
        start = time.monotonic()
        while time.monotonic() - start < seconds:
            # What Octave prints must be read, or it could block on the pty.
            ready, _, _ = select.select([self.fd], [], [], 0.01)
            if ready:
                try:
                    self.seen += os.read(self.fd, 4096)
                except OSError:
                    pass
            pid, _ = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.pid = None
                return time.monotonic() - start
        return None

    def close(self):
        if self.pid is not None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def main():
    session = Session(sys.argv[1:])
    try:
        # Spelled in two parts, so that the echo of this line is no prompt.
        session.command("PS1(['ZR' 'T> ']);", 30)
        # One call first, so that loading and parsing are over when the
        # silent call starts: a Ctrl-C before that is Octave's own business.
        session.command("b = zrt_broker_start(); p = ZRProxy('Faulty', '127.0.0.1', b.port); p('stall', {0});")
        session.send("r = p('silent')\n")
        time.sleep(1.0)
        session.send(b"\x03")
        back, shown = session.wait_for(PROMPT, 5)
        print("prompt back %.3f s after Ctrl-C" % back)
        if back > 1.0:
            raise AssertionError("the prompt took %.3f s to come back" % back)
        if "interrupted" not in shown:
            raise AssertionError("the call did not end with its own error: %r" % shown)
        shown = session.command("disp(class(p('stall', {0})))")
        if "double" not in shown:
            raise AssertionError("the call after Ctrl-C did not work: %r" % shown)
        # Waits for a call in the background end the same way, and leave
        # the call running.
        # Each wait once on a finished call first, so that parsing is over.
        session.command("g = p.async('stall', {0}); wait(g); fetchOutputs(g); fetchNext(g); f = p.async('silent');")
        # (A bracketed multiple assignment, "[i, r] = ...", leaves Ctrl-C to
        # Octave in an interactive session, for the synchronous call too.)
        for wait in ("wait(f)", "r = fetchOutputs(f)", "i = fetchNext(f)"):
            session.send(wait + "\n")
            time.sleep(1.0)
            session.send(b"\x03")
            back, shown = session.wait_for(PROMPT, 5)
            print("%s: prompt back %.3f s after Ctrl-C" % (wait, back))
            if back > 1.0:
                raise AssertionError("%s: the prompt took %.3f s to come back" % (wait, back))
            if "interrupted" not in shown:
                raise AssertionError("%s did not end with its own error: %r" % (wait, shown))
            shown = session.command("disp(f.State)")
            if "running" not in shown:
                raise AssertionError("%s: the future stopped: %r" % (wait, shown))
        session.command("cancel(f);")
        session.command("zrt_broker_stop(b);")
    finally:
        session.close()
    for name in ("SIGTERM", "SIGHUP"):
        terminate_during_call(sys.argv[1:], name)
    print("interactive_interrupt: all checks passed")


def terminate_during_call(command, name):
    """A termination signal during a call that gets no answer ends Octave
    as it does at the prompt, instead of waiting for the call."""
    session = Session(command)
    broker = None
    try:
        session.command("PS1(['ZR' 'T> ']);", 30)
        # No workspace file is left behind by the signal.
        session.command("sighup_dumps_octave_core(false); sigterm_dumps_octave_core(false);")
        shown = session.command("b = zrt_broker_start(); p = ZRProxy('Faulty', '127.0.0.1', b.port); "
                                "p('stall', {0}); printf('broker=%d\\n', b.pid);")
        broker = int(shown.rsplit("broker=", 1)[1].split()[0])
        session.send("r = p('silent')\n")
        time.sleep(1.0)
        os.kill(session.pid, getattr(signal, name))
        ended = session.ended_within(5)
        if ended is None:
            raise AssertionError("Octave still runs 5 s after %s during a call; it printed %r" % (name, session.seen[-600:]))
        print("Octave ended %.3f s after %s" % (ended, name))
        if ended > 1.0:
            raise AssertionError("Octave took %.3f s to end after %s" % (ended, name))
    finally:
        session.close()
        if broker:
            stop_process(broker)


def stop_process(pid):
    """Stops a process that is not ours (the broker of an Octave that died)."""
    try:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            os.kill(pid, 0)
            time.sleep(0.02)
    except ProcessLookupError:
        pass


if __name__ == "__main__":
    main()
