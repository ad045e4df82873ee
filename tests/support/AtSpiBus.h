#pragma once
// A screen reader's view of the desktop in tests: the accessibility bus (found through the
// session bus), the objects on it, their names, roles and children, as AT-SPI clients read
// them. The program under test runs in another process, so that it can answer while the
// test waits for a reply.
//
//   AtSpiBus bus;
//   ASSERT_TRUE(bus.Connect());
//   AtSpiObject found;
//   bus.Find(kAtSpiRoot, QStringLiteral("<Turing Technology>"), found);
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <vector>

struct AtSpiObject
{
    QString Service, Path;
};

class AtSpiBus
{
public:
    bool Connect()
    {
        QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
            QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
        QDBusReply<QString> address = QDBusConnection::sessionBus().call(ask, QDBus::Block, 3000);
        if (!address.isValid())
            return false;
        m_bus = QDBusConnection::connectToBus(address.value(), QStringLiteral("zt-screen-reader"));
        return m_bus.isConnected();
    }
    QDBusMessage Call(const AtSpiObject& object, const char* interface, const char* method,
                      const QVariantList& arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(object.Service, object.Path,
                                                           QString::fromLatin1(interface),
                                                           QString::fromLatin1(method));
        call.setArguments(arguments);
        return m_bus.call(call, QDBus::Block, 3000);
    }
    std::vector<AtSpiObject> Children(const AtSpiObject& object)
    {
        std::vector<AtSpiObject> children;
        QDBusMessage reply = Call(object, "org.a11y.atspi.Accessible", "GetChildren");
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return children;
        const auto array = reply.arguments().at(0).value<QDBusArgument>();
        array.beginArray();
        while (!array.atEnd()) {
            AtSpiObject child;
            QDBusObjectPath path;
            array.beginStructure();
            array >> child.Service >> path;
            array.endStructure();
            child.Path = path.path();
            children.push_back(child);
        }
        array.endArray();
        return children;
    }
    QString Name(const AtSpiObject& object)
    {
        QDBusMessage reply =
            Call(object, "org.freedesktop.DBus.Properties", "Get",
                 {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
        return reply.arguments().isEmpty()
                   ? QString()
                   : reply.arguments().at(0).value<QDBusVariant>().variant().toString();
    }
    QString String(const AtSpiObject& object, const char* interface, const char* method)
    {
        QDBusMessage reply = Call(object, interface, method);
        return reply.arguments().isEmpty() ? QString() : reply.arguments().at(0).toString();
    }
    QString Role(const AtSpiObject& object)
    {
        return String(object, "org.a11y.atspi.Accessible", "GetRoleName");
    }
    // The object's states: bit n of the set is AT-SPI's state n (4 checked, 5 collapsed,
    // 10 expanded, 18 multiselectable, 23 selected).
    uint64_t States(const AtSpiObject& object)
    {
        QDBusMessage reply = Call(object, "org.a11y.atspi.Accessible", "GetState");
        uint64_t states = 0;
        if (reply.arguments().isEmpty())
            return states;
        const auto array = reply.arguments().at(0).value<QDBusArgument>();
        array.beginArray();
        for (int word = 0; !array.atEnd() && word < 2; ++word) {
            uint32_t bits = 0;
            array >> bits;
            states |= static_cast<uint64_t>(bits) << (32 * word);
        }
        array.endArray();
        return states;
    }
    // Depth first under `from`, the first object of that name (and role, when given).
    bool Find(const AtSpiObject& from, const QString& name, AtSpiObject& found,
              const QString& role = QString(), int depth = 0)
    {
        if (depth > 12)
            return false;
        for (const AtSpiObject& child : Children(from)) {
            if (Name(child) == name && (role.isEmpty() || Role(child) == role)) {
                found = child;
                return true;
            }
            if (Find(child, name, found, role, depth + 1))
                return true;
        }
        return false;
    }

private:
    QDBusConnection m_bus{QString()};
};

inline const AtSpiObject kAtSpiRoot{QStringLiteral("org.a11y.atspi.Registry"),
                                    QStringLiteral("/org/a11y/atspi/accessible/root")};

// Starts this test executable again as the program a screen reader looks at: `variable`
// set, its accessibility on, only the test `filter` names. False when it did not start.
inline bool StartAccessibleHelper(QProcess& helper, const char* variable, const char* filter)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(variable), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    helper.setProcessEnvironment(env);
    helper.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=") + QString::fromLatin1(filter)});
    return helper.waitForStarted();
}
