#pragma once
// The tray entry as a StatusNotifierItem on the session bus, for the panels that show such
// items through a StatusNotifierWatcher. Unlike an icon in an XEmbed notification area, the
// item has a status: it says NeedsAttention instead of blinking, and the panel shows that in
// its own way. The item registers with the watcher, and again whenever a watcher starts (the
// panel restarted). It has no menu of its own on the bus: the panel asks for the context menu
// at a point, and the owner pops up its menu there.
//
// Use (the tray icon owns one where a watcher runs):
//   if (CStatusNotifierItem::IsWatcherRunning()) {
//       CStatusNotifierItem item(QStringLiteral("zibtam"), QStringLiteral("Zib Tam"));
//       item.SetIcon(icon); item.SetAttentionIcon(attention); item.SetToolTip(tip);
//       item.SetNeedsAttention(true);               // messages are unseen
//       connect(&item, &CStatusNotifierItem::Activated, ...);             // a click
//       connect(&item, &CStatusNotifierItem::ContextMenuRequested, ...);  // QPoint
//   }
#include <QByteArray>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusArgument;

// One size of an icon on the bus: width, height and ARGB32 pixels in network byte order.
struct SniPixmap
{
    int Width = 0;
    int Height = 0;
    QByteArray Data;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip
{
    QString IconName;
    SniPixmaps Icon;
    QString Title;
    QString Text;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

inline constexpr char kStatusNotifierWatcherService[] = "org.kde.StatusNotifierWatcher";
inline constexpr char kStatusNotifierWatcherPath[] = "/StatusNotifierWatcher";
inline constexpr char kStatusNotifierItemInterface[] = "org.kde.StatusNotifierItem";
inline constexpr char kStatusNotifierItemPath[] = "/StatusNotifierItem";

class CStatusNotifierItem : public QObject
{
    Q_OBJECT
public:
    // `id` names the program to the panel from one session to the next; `title` is what the
    // panel's settings call it.
    // The item has a connection of its own to the session bus, so that each item's object
    // has its own bus name.
    CStatusNotifierItem(const QString& id, const QString& title, QObject* parent = nullptr);
    ~CStatusNotifierItem() override;

    // A watcher runs on the bus, so a panel shows items like this one.
    static bool IsWatcherRunning();

    void SetIcon(const QIcon& icon);
    void SetAttentionIcon(const QIcon& icon);
    void SetToolTip(const QString& title);
    void SetNeedsAttention(bool on);
    bool NeedsAttention() const { return m_needsAttention; }

    // A watcher runs and has not said that no panel shows its items.
    bool IsShown() const { return m_watcherRunning && m_hostRegistered; }
    // The bus name the item is registered under ("org.kde.StatusNotifierItem-PID-N").
    QString ServiceName() const { return m_service; }

    // The item as the bus reads it.
    QString Id() const { return m_id; }
    QString Title() const { return m_title; }
    QString Status() const;
    const SniPixmaps& IconPixmap() const { return m_icon; }
    const SniPixmaps& AttentionIconPixmap() const { return m_attentionIcon; }
    SniToolTip ToolTip() const { return {QString(), {}, m_toolTip, QString()}; }

    // The icon at the sizes a panel picks from, as the bus carries it.
    static SniPixmaps ToPixmaps(const QIcon& icon);

signals:
    // The panel's primary action on the item (a left click), at a point on the screen (in
    // the coordinates of Qt's windows, not the panel's device pixels).
    void Activated(const QPoint& at);
    // Its secondary action (a middle click).
    void SecondaryActivated(const QPoint& at);
    // The panel wants the context menu at a point on the screen.
    void ContextMenuRequested(const QPoint& at);
    void Scrolled(int delta, Qt::Orientation orientation);

private slots:
    void OnHostRegistered() { m_hostRegistered = true; }
    void OnHostUnregistered() { AskWhetherAHostRuns(); }

private:
    void RegisterWithWatcher();
    void AskWhetherAHostRuns();
    SniPixmaps Pixmaps(const QIcon& icon);

    QString m_service;
    QDBusConnection m_bus;
    QString m_id;
    QString m_title;
    QString m_toolTip;
    SniPixmaps m_icon;
    qint64 m_iconKey = 0;
    SniPixmaps m_attentionIcon;
    QHash<qint64, SniPixmaps> m_pixmaps; // icon's cache key -> its sizes: the animation repeats
    QDBusServiceWatcher m_watcher;
    class CStatusNotifierItemAdaptor* m_adaptor = nullptr;
    bool m_needsAttention = false;
    bool m_watcherRunning = false;
    bool m_hostRegistered = true; // until the watcher says otherwise
};
