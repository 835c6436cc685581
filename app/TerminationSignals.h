#pragma once

#include <functional>

// SIGINT, SIGTERM, SIGHUP and SIGQUIT (Ctrl-C, a logout, a closed terminal or
// ssh connection, Ctrl-\) become an ordinary call on the event loop, so the
// program closes its window the way a user does and puts every datagram
// already received into the outbox first. A closed output pipe (SIGPIPE) and
// a file-size limit (SIGXFSZ) must not end Tarvex: the write that hits them
// fails and says so instead.
//
// installTerminationSignals() goes first, before start-up: a signal that
// comes before the handler is set waits for it. No-op where there are no
// such signals.
void installTerminationSignals();
void onTerminationSignal(std::function<void()> handler);
