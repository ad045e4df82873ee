#include "app/desktop/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QtEndian>

namespace {

constexpr char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
// The sizes panels pick from; they scale the nearest one.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48};
// More than the icons a tray cycles through.
constexpr qsizetype kCachedIcons = 32;

QDBusMessage WatcherCall(const char* interface, const char* method)
{
    return QDBusMessage::createMethodCall(QLatin1String(kStatusNotifierWatcherService),
                                          QLatin1String(kStatusNotifierWatcherPath),
                                          QLatin1String(interface), QLatin1String(method));
}

// Panels give points in device pixels; Qt keeps each screen's top left corner and scales
// from there.
QPoint FromDevicePixels(const QPoint& at)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRect device(logical.topLeft(), logical.size() * ratio);
        if (device.contains(at))
            return logical.topLeft() + (at - logical.topLeft()) / ratio;
    }
    return at;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.Width << pixmap.Height << pixmap.Data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.Width >> pixmap.Height >> pixmap.Data;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip)
{
    argument.beginStructure();
    argument << tip.IconName << tip.Icon << tip.Title << tip.Text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip)
{
    argument.beginStructure();
    argument >> tip.IconName >> tip.Icon >> tip.Title >> tip.Text;
    argument.endStructure();
    return argument;
}

// The item's interface on the bus: its properties read from the item, its methods passed on
// as the item's signals.
class CStatusNotifierItemAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconName READ NoName)
    Q_PROPERTY(SniPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ NoName)
    Q_PROPERTY(SniPixmaps OverlayIconPixmap READ NoPixmap)
    Q_PROPERTY(QString AttentionIconName READ NoName)
    Q_PROPERTY(SniPixmaps AttentionIconPixmap READ AttentionIconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ NoName)
    Q_PROPERTY(SniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)

public:
    explicit CStatusNotifierItemAdaptor(CStatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), m_item(*item)
    {}

    QString Category() const { return QStringLiteral("Communications"); }
    QString Id() const { return m_item.Id(); }
    QString Title() const { return m_item.Title(); }
    QString Status() const { return m_item.Status(); }
    int WindowId() const { return 0; }
    QString NoName() const { return {}; }
    SniPixmaps NoPixmap() const { return {}; }
    SniPixmaps IconPixmap() const { return m_item.IconPixmap(); }
    SniPixmaps AttentionIconPixmap() const { return m_item.AttentionIconPixmap(); }
    SniToolTip ToolTip() const { return m_item.ToolTip(); }
    // A click activates; the context menu is the program's own, popped up on request.
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

public slots:
    void Activate(int x, int y) { emit m_item.Activated(FromDevicePixels({x, y})); }
    void SecondaryActivate(int x, int y)
    {
        emit m_item.SecondaryActivated(FromDevicePixels({x, y}));
    }
    void ContextMenu(int x, int y) { emit m_item.ContextMenuRequested(FromDevicePixels({x, y})); }
    // Sent before Activate on Wayland: the Wayland platform hands the token to the
    // compositor with the next activation, which then gives the window the focus instead of
    // only marking it.
    void ProvideXdgActivationToken(const QString& token)
    {
        if (!token.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    }
    void Scroll(int delta, const QString& orientation)
    {
        emit m_item.Scrolled(
            delta, orientation.compare(QLatin1String("horizontal"), Qt::CaseInsensitive) == 0
                       ? Qt::Horizontal
                       : Qt::Vertical);
    }

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    CStatusNotifierItem& m_item;
};

CStatusNotifierItem::CStatusNotifierItem(const QString& id, const QString& title, QObject* parent)
    : QObject(parent), m_service(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg([] {
                                         static int items = 0;
                                         return ++items;
                                     }())),
      m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_service)), m_id(id),
      m_title(title)
{
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    m_adaptor = new CStatusNotifierItemAdaptor(this);
    if (!m_bus.isConnected())
        return;
    m_bus.registerObject(QLatin1String(kStatusNotifierItemPath), this,
                         QDBusConnection::ExportAdaptors);
    m_bus.registerService(m_service);

    // A panel that restarts brings a new watcher, which knows nothing of us.
    m_watcher.setConnection(m_bus);
    m_watcher.addWatchedService(QLatin1String(kStatusNotifierWatcherService));
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &CStatusNotifierItem::RegisterWithWatcher);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { m_watcherRunning = false; });
    const QString service = QLatin1String(kStatusNotifierWatcherService);
    const QString path = QLatin1String(kStatusNotifierWatcherPath);
    const QString interface = QLatin1String(kWatcherInterface);
    m_bus.connect(service, path, interface, QStringLiteral("StatusNotifierHostRegistered"), this,
                  SLOT(OnHostRegistered()));
    m_bus.connect(service, path, interface, QStringLiteral("StatusNotifierHostUnregistered"), this,
                  SLOT(OnHostUnregistered()));
    if (m_bus.interface()->isServiceRegistered(service))
        RegisterWithWatcher();
}

CStatusNotifierItem::~CStatusNotifierItem()
{
    if (m_bus.isConnected()) {
        m_bus.unregisterService(m_service);
        m_bus.unregisterObject(QLatin1String(kStatusNotifierItemPath));
    }
    QDBusConnection::disconnectFromBus(m_service);
}

bool CStatusNotifierItem::IsWatcherRunning()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QLatin1String(kStatusNotifierWatcherService));
}

void CStatusNotifierItem::RegisterWithWatcher()
{
    m_watcherRunning = true;
    m_hostRegistered = true;
    QDBusMessage call = WatcherCall(kWatcherInterface, "RegisterStatusNotifierItem");
    call << m_service;
    auto* registered = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(registered, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<> reply = *w;
        if (reply.isError())
            qWarning("The panel did not take the tray item: %s",
                     qPrintable(reply.error().message()));
        w->deleteLater();
    });
    AskWhetherAHostRuns();
}

void CStatusNotifierItem::AskWhetherAHostRuns()
{
    QDBusMessage get = WatcherCall(kPropertiesInterface, "Get");
    get << QLatin1String(kWatcherInterface) << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* asked = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(asked, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QDBusVariant> reply = *w;
        // A watcher that cannot say is taken at its word that it shows the item.
        if (reply.isValid())
            m_hostRegistered = reply.value().variant().toBool();
        w->deleteLater();
    });
}

QString CStatusNotifierItem::Status() const
{
    return m_needsAttention ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
}

SniPixmaps CStatusNotifierItem::ToPixmaps(const QIcon& icon)
{
    SniPixmaps pixmaps;
    for (int size : kPixmapSizes) {
        QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        if (image.isNull())
            continue;
        image = image.convertToFormat(QImage::Format_ARGB32);
        SniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.Data.resize(qsizetype(image.width()) * image.height() * 4);
        for (int y = 0; y < image.height(); ++y)
            qToBigEndian<quint32>(image.constScanLine(y), image.width(),
                                  pixmap.Data.data() + qsizetype(y) * image.width() * 4);
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

SniPixmaps CStatusNotifierItem::Pixmaps(const QIcon& icon)
{
    auto found = m_pixmaps.constFind(icon.cacheKey());
    if (found != m_pixmaps.constEnd())
        return *found;
    if (m_pixmaps.size() >= kCachedIcons)
        m_pixmaps.clear();
    return m_pixmaps[icon.cacheKey()] = ToPixmaps(icon);
}

void CStatusNotifierItem::SetIcon(const QIcon& icon)
{
    if (!m_icon.isEmpty() && icon.cacheKey() == m_iconKey)
        return;
    m_iconKey = icon.cacheKey();
    m_icon = Pixmaps(icon);
    emit m_adaptor->NewIcon();
}

void CStatusNotifierItem::SetAttentionIcon(const QIcon& icon)
{
    m_attentionIcon = Pixmaps(icon);
    emit m_adaptor->NewAttentionIcon();
}

void CStatusNotifierItem::SetToolTip(const QString& title)
{
    if (title == m_toolTip)
        return;
    m_toolTip = title;
    emit m_adaptor->NewToolTip();
}

void CStatusNotifierItem::SetNeedsAttention(bool on)
{
    if (on == m_needsAttention)
        return;
    m_needsAttention = on;
    emit m_adaptor->NewStatus(Status());
}

#include "StatusNotifierItem.moc"
