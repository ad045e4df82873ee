// Shared main for tests of the event-driven layer: one QCoreApplication for the run.
#include "RunTests.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RunTestsReportingSkips();
}
