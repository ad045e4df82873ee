// The chat window's "&To:" list while thousands of users come and go: each arrival,
// departure and rename is one call from the network, with the event loop run after it as
// the window runs it between datagrams. The same arrivals into a list rebuilt whole on every
// change (as it used to be) are measured beside, for the ratio.
//   users_bench [COUNT] [--no-reference]     (3000 by default; offscreen or under Xvfb)
#include "app/desktop/UsersListWidget.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QListWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

double Seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> Names(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("User " + std::to_string(100000 + i).substr(1));
    std::shuffle(names.begin(), names.end(), std::mt19937(7)); // arrivals in no order
    return names;
}

struct Window
{
    QWidget Top;
    CUsersList* List = new CUsersList(nullptr, &Top);
    Window()
    {
        List->setGeometry(10, 10, 300, 24);
        Top.resize(320, 60);
        Top.show();
        List->OnConnected();
    }
};

// What the list did before: on every change, every entry out and the wanted ones in again.
void RebuildEach(CMultiSelComboBox& list, const std::vector<std::string>& names)
{
    std::vector<std::string> present;
    for (const std::string& name : names) {
        present.push_back(name);
        std::vector<QString> wanted{QStringLiteral("(All Users)")};
        for (const std::string& user : present)
            wanted.push_back(FromCp1252(user));
        std::sort(wanted.begin(), wanted.end());
        list.List()->clear();
        for (const QString& text : wanted)
            list.AddEntry(text, 1);
        list.SetSelected(list.FindEntry(QStringLiteral("(All Users)")), true);
        QApplication::processEvents();
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3000;
    const std::vector<std::string> names = Names(count);

    auto each = [&](const std::function<void(const std::string&)>& change) {
        return Seconds([&] {
            for (const std::string& name : names) {
                change(name);
                QApplication::processEvents();
            }
        });
    };

    Window closed;
    const double arrive = each([&](const std::string& n) { closed.List->UserArrived(n); });
    const double rename =
        each([&](const std::string& n) { closed.List->UserRenamed(n, n + " (away)"); });
    const double depart =
        each([&](const std::string& n) { closed.List->UserDeparted(n + " (away)"); });

    Window open;
    open.List->OpenList();
    const double arriveOpen = each([&](const std::string& n) { open.List->UserArrived(n); });
    open.List->SelectUsers({names[0], names[1]}, true);
    const double arriveChosen = Seconds([&] {
        for (const std::string& name : names) {
            open.List->UserArrived(name + " 2");
            QApplication::processEvents();
        }
    });
    open.List->CloseList();

    QWidget top;
    auto* before = new CMultiSelComboBox(&top);
    before->setGeometry(10, 10, 300, 24);
    top.show();
    const bool reference = !(argc > 2 && std::string(argv[2]) == "--no-reference");
    const double rebuild = reference ? Seconds([&] { RebuildEach(*before, names); }) : 0;

    std::printf("%d users, one change per event loop round (seconds in all):\n", count);
    std::printf("  arrivals, list closed            %8.3f\n", arrive);
    std::printf("  renames                          %8.3f\n", rename);
    std::printf("  departures                       %8.3f\n", depart);
    std::printf("  arrivals, list open              %8.3f\n", arriveOpen);
    std::printf("  arrivals, list open, two chosen  %8.3f\n", arriveChosen);
    std::printf("  arrivals, list rebuilt each time %8.3f  (%.0f times the arrivals)\n", rebuild,
                rebuild / arrive);
    const bool ok = closed.List->Count() == 1 && open.List->Count() == 2 * count + 1;
    if (!ok)
        std::printf("wrong entry counts: %d and %d\n", closed.List->Count(), open.List->Count());
    return ok ? 0 : 1;
}
