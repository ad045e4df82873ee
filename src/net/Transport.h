#pragma once
// The one object all networking goes through. The main window logs on, sends and
// collects arrivals through a CTransport; the transport reports connection state and
// the user list back through the window's CTransportSink. A plain CTransport is the
// null transport, installed while no connection exists: every operation fails.
#include "common/ChatMessage.h"

#include <string>
#include <vector>

class CNextWake;
class IClock;
class COptions;

// Callbacks of the main window. The connected mark keeps OnConnected and
// OnDisconnected from repeating.
class CTransportSink
{
public:
    virtual ~CTransportSink() = default;

    void NotifyConnected();
    void NotifyDisconnected();
    void NotifyUserArrived(const std::string& name);
    void NotifyUserDeparted(const std::string& name);
    void NotifyUserRenamed(const std::string& oldName, const std::string& newName);

    bool IsConnected() const { return m_connected; }

protected:
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;
    virtual void OnUserArrived(const std::string& name) = 0;
    virtual void OnUserDeparted(const std::string& name) = 0;
    virtual void OnUserRenamed(const std::string& oldName, const std::string& newName) = 0;

private:
    bool m_connected = false;
};

// Where a transport finds the stored user name when it is not logged on under one.
class IUserNameSource
{
public:
    virtual ~IUserNameSource() = default;
    virtual std::string StoredUserName() const = 0;
};

// The stored "Username" of the settings store, asked at every use.
class COptionsUserName : public IUserNameSource
{
public:
    explicit COptionsUserName(const COptions& options) : m_options(options) {}
    std::string StoredUserName() const override;

private:
    const COptions& m_options;
};

// A name given once, for programs and tools that are told whom to be.
class CFixedUserName : public IUserNameSource
{
public:
    explicit CFixedUserName(std::string name) : m_name(std::move(name)) {}
    std::string StoredUserName() const override { return m_name; }

private:
    std::string m_name;
};

// How the deliveries of a transport's sends stand.
struct DeliveryStatus
{
    int Awaited = 0;        // sends whose confirmation is still awaited
    int Unconfirmed = 0;    // sends reported as not confirmed
    std::string LastReport; // the text of the last of those reports
};

class CTransport
{
public:
    // The sink is not owned and may be null (nothing is then told).
    CTransport(CTransportSink* sink, const IUserNameSource& names, const IClock& clock);
    virtual ~CTransport();
    CTransport(const CTransport&) = delete;
    CTransport& operator=(const CTransport&) = delete;

    // --- operations a transport implements; the bodies here are the null transport's
    virtual void UpdateSelfChat() {}
    virtual bool GetUserName(std::string& name);
    virtual bool DoLogOn(const std::string& name, std::string& error);
    virtual void LogOff() {}
    virtual bool DoChangeUserName(const std::string& newName, std::string& error);
    virtual void Refresh() {}
    virtual void Receive(std::vector<ChatMessage>& messages);
    virtual bool DoSend(const std::vector<std::string>& recipients, const std::string& text,
                        std::string& error);
    virtual bool DoSendToAll(const std::string& text, std::string& error);
    virtual bool DoGetUpgradeURL(std::string& url);
    // Sends still waiting for their confirmation, not yet reported as unconfirmed.
    virtual int AwaitedDeliveries() const { return 0; }
    // True when a successful log-on brought the whole list of present users with it.
    virtual bool KnowsUsersAtLogOn() const { return false; }
    // Adds when this transport's own work next needs a poll (arrivals wake it besides).
    virtual void AddNextWake(CNextWake& wake) const;

    // --- what the main window calls
    bool LogOn(const std::string& name, std::string& error);
    bool ChangeUserName(const std::string& newName, std::string& error);
    // A message to exactly the user himself is looped back locally.
    bool Send(const std::vector<std::string>& recipients, const std::string& text,
              std::string& error);
    bool SendToAll(const std::string& text, std::string& error);
    // Hands over what is queued, then polls the network once; what the poll brings in is
    // handed over at the next call.
    bool GetMessages(std::vector<ChatMessage>& messages);
    void PostSystemMessage(const std::string& text, bool log);
    std::string GetUserNameOrDefault();
    std::string NewUniqueId();
    bool GetUpgradeURL(std::string& url) { return DoGetUpgradeURL(url); }
    DeliveryStatus GetDeliveryStatus() const;
    // When GetMessages is next needed without anything arriving: now while messages are
    // queued for handing over, else the transport's own next moment.
    void NextWake(CNextWake& wake) const;

    void NotifyUserArrived(const std::string& name);
    void NotifyUserDeparted(const std::string& name);
    void NotifyUserRenamed(const std::string& oldName, const std::string& newName);

    // The controller's copy of "SelfChat"; it calls UpdateSelfChat after a change.
    bool SelfChat() const { return m_selfChat; }
    void SetSelfChat(bool on) { m_selfChat = on; }

    static constexpr const char* kSystemSender = "Zib Tam";
    static constexpr const char* kNotConnectedLogOn =
        "Zib Tam could not log on because it is not connected to the network.";
    // Worded exactly as users have always seen it.
    static constexpr const char* kNotConnectedRename =
        "Zib Tam could change your user name because it is not connected to the network.";
    static constexpr const char* kNotConnectedSend =
        "Zib Tam could not send your message because it is not connected to the network.";

protected:
    CTransportSink* Sink() const { return m_sink; }
    const IClock& Clock() const { return m_clock; }
    std::vector<ChatMessage>& Incoming() { return m_incoming; }
    // A message made by this transport now: the next id, stamped with the clock, logged.
    ChatMessage NewMessage(const std::string& sender, std::vector<std::string> recipients,
                           bool allUsers, std::string text, bool loopback);
    // Posts the report that the send `description` tells of was (not) confirmed.
    void PostDeliveryReport(bool confirmed, const std::string& description, bool log);

private:
    CTransportSink* m_sink;
    const IUserNameSource& m_names;
    const IClock& m_clock;
    std::vector<ChatMessage> m_incoming;
    int m_idCounter = 0;
    int m_unconfirmed = 0;
    std::string m_lastUnconfirmedReport;
    bool m_selfChat = false;
};

// The id counter written in base 36 with lower-case letters, without leading zeros.
std::string FormatBase36(unsigned value);
// Every carriage return removed.
std::string RemoveCarriageReturns(const std::string& text);
