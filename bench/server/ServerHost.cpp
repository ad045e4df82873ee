// `zibtam --server` without the rest of the program: what the load generator runs against.
#include "net/ServerMain.h"

int main(int argc, char** argv)
{
    return RunServerMode(argc, argv);
}
