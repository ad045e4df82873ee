#include "app/desktop/PortalHotKeys.h"

#include "platform/DesktopPortal.h"

#include <QDBusArgument>
#include <QDBusMetaType>

namespace {

constexpr char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";

// One shortcut of BindShortcuts: its id and its properties, a(sa{sv}) on the bus.
struct PortalShortcut
{
    QString Id;
    QVariantMap Properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.Id << shortcut.Properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.Id >> shortcut.Properties;
    argument.endStructure();
    return argument;
}

QString ShortcutId(const HotKey& key)
{
    return QStringLiteral("zibtam-%1").arg(key.Id);
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

CPortalHotKeys::CPortalHotKeys(QObject* parent) : QObject(parent)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_holdLimit.setSingleShot(true);
    m_holdLimit.setInterval(kHoldLimitMs);
    connect(&m_holdLimit, &QTimer::timeout, this, &CPortalHotKeys::Release);
}

CPortalHotKeys::~CPortalHotKeys()
{
    CDesktopPortal::CloseSession(m_session);
}

void CPortalHotKeys::Bind(const std::vector<HotKey>& keys)
{
    m_keys = keys;
    CDesktopPortal::CreateSession(this, QLatin1String(kInterface),
                                  [this](PortalOutcome outcome, const QString& session) {
                                      m_session = session;
                                      if (outcome == PortalOutcome::Declined)
                                          Finish(HotKeyResult::Declined);
                                      else if (outcome != PortalOutcome::Granted)
                                          Finish(HotKeyResult::NotOffered);
                                      else
                                          BindShortcuts();
                                  });
}

void CPortalHotKeys::BindShortcuts()
{
    // Listening before binding: a key may be pressed the moment it is bound.
    QDBusConnection bus = CDesktopPortal::Bus();
    const QString service = QLatin1String(CDesktopPortal::kService);
    const QString path = QLatin1String(CDesktopPortal::kPath);
    bus.connect(service, path, QLatin1String(kInterface), QStringLiteral("Activated"), this,
                SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus.connect(service, path, QLatin1String(kInterface), QStringLiteral("Deactivated"), this,
                SLOT(OnDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));

    QList<PortalShortcut> shortcuts;
    for (const HotKey& key : m_keys)
        shortcuts.push_back(
            {ShortcutId(key),
             {{QStringLiteral("description"), QString::fromUtf8(key.Purpose)},
              {QStringLiteral("preferred_trigger"), QString::fromStdString(HotKeyTrigger(key))}}});
    CDesktopPortal::Request(
        this, QLatin1String(kInterface), QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
         QVariantMap()},
        [this](PortalOutcome outcome, const QVariantMap& results) {
            if (outcome == PortalOutcome::Declined) {
                Finish(HotKeyResult::Declined);
                return;
            }
            if (outcome != PortalOutcome::Granted) {
                Finish(HotKeyResult::NotOffered);
                return;
            }
            // The keys the desktop gave; one the user left out of the dialog is missing.
            QVariant given = results.value(QStringLiteral("shortcuts"));
            std::vector<HotKeyResult> each(m_keys.size(), HotKeyResult::Registered);
            if (given.isValid()) {
                QList<PortalShortcut> bound;
                if (given.canConvert<QDBusArgument>())
                    given.value<QDBusArgument>() >> bound;
                for (size_t i = 0; i < m_keys.size(); ++i) {
                    bool found = false;
                    for (const PortalShortcut& shortcut : bound)
                        found = found || shortcut.Id == ShortcutId(m_keys[i]);
                    each[i] = found ? HotKeyResult::Registered : HotKeyResult::Declined;
                }
            }
            Finish(each);
        });
}

void CPortalHotKeys::Finish(HotKeyResult all)
{
    Finish(std::vector<HotKeyResult>(m_keys.size(), all));
}

void CPortalHotKeys::Finish(const std::vector<HotKeyResult>& results)
{
    std::vector<HotKeyOutcome> outcomes;
    for (size_t i = 0; i < m_keys.size(); ++i)
        outcomes.push_back({m_keys[i], results[i]});
    emit Bound(outcomes);
}

const HotKey* CPortalHotKeys::KeyOf(const QString& shortcut) const
{
    for (const HotKey& key : m_keys)
        if (ShortcutId(key) == shortcut)
            return &key;
    return nullptr;
}

void CPortalHotKeys::OnActivated(const QDBusObjectPath& session, const QString& shortcut,
                                 qulonglong, const QVariantMap& options)
{
    const HotKey* key = KeyOf(shortcut);
    if (session.path() != m_session || !key)
        return;
    if (m_held)
        Release();
    m_held = key->Id;
    m_holdLimit.start();
    emit Pressed(key->Id, options.value(QStringLiteral("activation_token")).toString());
}

void CPortalHotKeys::OnDeactivated(const QDBusObjectPath& session, const QString& shortcut,
                                   qulonglong, const QVariantMap&)
{
    const HotKey* key = KeyOf(shortcut);
    if (session.path() == m_session && key && key->Id == m_held)
        Release();
}

void CPortalHotKeys::Release()
{
    m_holdLimit.stop();
    uint32_t id = m_held;
    m_held = 0;
    if (id)
        emit Released(id);
}
