// The headless server as its own process, for tests that kill and restart it.
#include "net/ServerMain.h"

int main(int argc, char** argv)
{
    return RunServerMode(argc, argv);
}
