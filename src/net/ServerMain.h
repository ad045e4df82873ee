#pragma once
// `zibtam --server [--port N]`: the client/server server alone, headless, until SIGINT or
// SIGTERM. Needs QtCore only, no display.

// argv[1] is "--server". Prints one line once it listens ("... listening on port N, room
// for M connections"), ends with status 0 after a signal, 1 when the permissions or the
// port cannot be had, 2 on a bad command line. "--port 0" takes any free port (the line names it).
int RunServerMode(int argc, char** argv);
