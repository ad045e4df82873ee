#include "RunTests.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RunTestsReportingSkips();
}
