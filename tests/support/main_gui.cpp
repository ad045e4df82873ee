// Shared main for widget tests: one QApplication for the run (offscreen under CTest).
#include "RunTests.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RunTestsReportingSkips();
}
