#pragma once

#include <functional>

// Turns SIGINT and SIGTERM (Ctrl-C, a logout) into an ordinary call on the
// event loop, so the program closes its window the same way a user does and
// keeps every contact still waiting for the service. No-op where there are
// no such signals.
void onTerminationSignal(std::function<void()> handler);
