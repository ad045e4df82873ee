#pragma once
// Notifications on the desktop (the freedesktop.org notification service on the session
// bus): the Linux form of a flashing task-bar button. One notification per sender, replaced
// as more of his messages arrive and withdrawn when the user looks at the chat window; its
// default action asks for the window with that sender chosen, and where the server offers an
// inline reply, the text typed there comes back as a reply to the sender. Every call is
// asynchronous: a slow or missing server never holds up the chat window.
//
// Use (the chat window owns one):
//   CDesktopNotifications notes;                 // the session bus
//   if (notes.IsAvailable()) notes.Post(sender, text);
//   notes.WithdrawAll();                         // the window was looked at
//   connect(&notes, &CDesktopNotifications::ShowRequested, ...);   // sender
//   connect(&notes, &CDesktopNotifications::ReplyTyped, ...);      // sender, text
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class CDesktopNotifications : public QObject
{
    Q_OBJECT
public:
    explicit CDesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                   QObject* parent = nullptr);

    // A notification server is running or can be started on the bus.
    bool IsAvailable() const;
    // Shows (or replaces) the notification of `sender` with `text`.
    void Post(const QString& sender, const QString& text);
    // Closes every notification still shown.
    void WithdrawAll();
    // What the server said it can do ("body-markup", "inline-reply", ...); empty until it
    // answered.
    QStringList Capabilities() const { return m_capabilities; }

    // The body as it is sent: one paragraph, cut at a word near kBodyLimit characters, and
    // escaped when the server reads markup.
    static QString BodyText(const QString& text, bool markup);
    static constexpr int kBodyLimit = 200;

signals:
    void ShowRequested(const QString& sender);
    void ReplyTyped(const QString& sender, const QString& text);

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnReplied(uint id, const QString& text);
    void OnClosed(uint id, uint reason);

private:
    void Send(const QString& sender);
    QString SenderOf(uint id) const;

    QDBusConnection m_bus;
    QStringList m_capabilities;
    QHash<QString, uint> m_ids;        // sender -> the server's id of his notification
    QHash<QString, QString> m_texts;   // sender -> the text still to be shown
    QSet<QString> m_waiting;           // senders whose Notify is not answered yet
    QSet<QString> m_closeWhenAnswered; // withdrawn while their Notify was on its way
};

inline constexpr char kNotificationsService[] = "org.freedesktop.Notifications";
inline constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";
