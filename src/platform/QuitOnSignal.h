#pragma once
// Ends the Qt event loop cleanly on SIGINT and SIGTERM (the handler only writes a byte;
// the quit happens on the event loop, so every object is destroyed in order).
void QuitOnTerminationSignals();
