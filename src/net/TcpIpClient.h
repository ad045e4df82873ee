#pragma once
// The client of the client/server mode: one connection to the server, log-on with a
// login-request, the user list from the server's users documents, messages out and
// receipts back, and the reports of which recipients confirmed a message.
#include "net/BusyIndicator.h"
#include "net/TaskSocket.h"
#include "net/Transport.h"

#include <QPointer>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

class COptions;

// Where the client connects to.
class IClientSettings
{
public:
    virtual ~IClientSettings() = default;
    virtual std::string ServerHost() const = 0;
    virtual int ServerPort() const = 0;
};

// From the settings store, read at every log-on: "127.0.0.1" when this computer also runs
// the server ("NetworkingType" 3), else "Server"; the port is "PortNumber".
class COptionsClientSettings : public IClientSettings
{
public:
    explicit COptionsClientSettings(const COptions& options) : m_options(options) {}
    std::string ServerHost() const override;
    int ServerPort() const override;

private:
    const COptions& m_options;
};

// A fixed address, for callers that read the settings themselves.
class CFixedClientSettings : public IClientSettings
{
public:
    CFixedClientSettings(std::string host, int port) : m_host(std::move(host)), m_port(port) {}
    std::string ServerHost() const override { return m_host; }
    int ServerPort() const override { return m_port; }
    void Set(std::string host, int port)
    {
        m_host = std::move(host);
        m_port = port;
    }

private:
    std::string m_host;
    int m_port;
};

// A sent message still waiting for the receipts of some of its recipients.
struct PendingReceipt
{
    ChatMessage Message;
    std::time_t SendTime = 0;
    std::uint32_t SentTick = 0;
    bool Reported = false;
    std::vector<std::string> Missing;
};

class CTcpIpClient : public CTransport, private ITaskSocketOwner
{
public:
    // More than this without a write, and the next Receive sends a keep-alive.
    static constexpr std::uint32_t kKeepAliveMs = 60000;
    // A recipient that has not confirmed within this long is reported.
    static constexpr std::uint32_t kReceiptWaitMs = 3000;

    CTcpIpClient(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                 const IClientSettings& settings, IBusyIndicatorFactory& busy,
                 int version = kProtocolVersion);
    ~CTcpIpClient() override;

    void UpdateSelfChat() override;
    bool GetUserName(std::string& name) override;
    bool DoLogOn(const std::string& name, std::string& error) override;
    void LogOff() override;
    bool DoChangeUserName(const std::string& newName, std::string& error) override;
    void Refresh() override {}
    void Receive(std::vector<ChatMessage>& messages) override;
    bool DoSend(const std::vector<std::string>& recipients, const std::string& text,
                std::string& error) override;
    bool DoSendToAll(const std::string& text, std::string& error) override;
    bool DoGetUpgradeURL(std::string& url) override;
    int AwaitedDeliveries() const override;
    // The next keep-alive, the next delivery report, documents left queued.
    void AddNextWake(CNextWake& wake) const override;
    // The answer to the log-on lists every user present.
    bool KnowsUsersAtLogOn() const override { return m_connection != nullptr; }

    // For tests.
    const std::vector<std::string>& KnownUsers() const { return m_knownUsers; }
    const std::map<std::string, PendingReceipt>& PendingReceipts() const { return m_pending; }
    bool IsConnected() const { return m_connection != nullptr; }
    CTaskSocket* Connection() const { return m_connection; }

    static constexpr const char* kNotConnected = "Zib Tam is not connected to the server.";
    static constexpr const char* kConnecting = "Connecting to the Zib Tam server...";
    static constexpr const char* kCommunicating = "Communicating with the Zib Tam server...";
    static constexpr const char* kSending = "Sending your message...";
    static constexpr const char* kAcknowledging = "Acknowledging message...";

private:
    void OnDocumentArrived(CTaskSocket& socket) override;
    void OnConnectionClosed(CTaskSocket& socket) override;
    void OnSendFailed(CTaskSocket& socket, const ProtocolDocument& document) override;

    bool LogOnExchange(const std::string& name, IBusyIndicator& busy, std::string& error);
    bool SendMessage(ChatMessage message, std::string& error);
    void ProcessIncoming();
    void ApplyUsers(const std::vector<UserEntry>& entries);
    void HandleReceipt(const ProtocolDocument& receipt);
    void DropConnection();

    const IClientSettings& m_settings;
    IBusyIndicatorFactory& m_busy;
    int m_version;
    std::string m_ownName;
    std::vector<std::string> m_knownUsers;
    std::string m_host;
    int m_port = 0;
    std::vector<ChatMessage> m_received;
    std::map<std::string, PendingReceipt> m_pending;
    // Owned; a QPointer so that a wait notices when the connection went away under it.
    QPointer<CTaskSocket> m_connection;
    int m_waiting = 0;         // a log-on exchange is waiting for its answer
    bool m_processing = false; // ProcessIncoming runs further up the stack
};
