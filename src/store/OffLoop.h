#pragma once

#include <functional>

// Runs work on a thread of its own while the calling thread goes on serving
// its event loop (repaints, timers, the watchdog, the control socket), and
// returns once the work is done, raising what the work raised. The work's
// database connections are its thread's own (TSession::connectionFor gives
// each thread its own) and are closed when it ends. One work at a time: a
// call made from a handler that the wait served raises instead of starting a
// second one. The work starts once the writes queued before the call
// (QueuedWriter) have run, so that its rows come after them.
void runOffTheEventLoop(const std::function<void()>& work);

// Serves what the event loop has waiting (a due tick, a repaint, a click)
// between two pieces of a point's work that each hold the loop for a few
// disk syncs. Called only next to a wait that serves the loop already (the
// delete's answer, the storing run), so that no handler finds the work in a
// state it could not find it in anyway. Does nothing off the loop's thread.
void serveTheEventLoop();

// Puts the calling thread behind the event loop's: on a busy machine the
// loop's thread comes first (a window to repaint, a watchdog to ping).
void putBehindTheEventLoop();

// Told, on the calling thread, how long each work ran once it has ended
// (finished or raised): the station times its storing runs by it. Returns the
// key that stops it.
int watchOffTheEventLoop(std::function<void(double seconds, bool failed)> watcher);
void unwatchOffTheEventLoop(int key);
