#pragma once
// TNMUDP: one IPv4 datagram endpoint. Incoming datagrams are reported through OnDataReceived on
// the UI thread, one datagram per readiness notification. Host names are looked up
// asynchronously; SendBuffer waits for the answer in a nested event loop, so other events of the
// application run during such a send.
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QEventLoop;
class QSocketNotifier;

namespace velmar {

class UDPSockError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised for a send of length 0 ("Invalid buffer").
class InvalidBufferError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TNMUDP : public QObject {
    Q_OBJECT
public:
    using TOnReceive =
        std::function<void(QObject* Sender, int NumberBytes, std::string FromIP, int Port)>;
    using TOnStatus = std::function<void(QObject* Sender, const std::string& status)>;
    using THandlerEvent = std::function<void(bool& handled)>;
    using TBuffInvalid =
        std::function<void(bool& handled, std::vector<std::uint8_t>& Buff, int& length)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using TErrorEvent =
        std::function<void(QObject* Sender, std::uint16_t errorNo, const std::string& msg)>;

    static constexpr int ReceiveBufferSize = 2048;
    static constexpr int MaxRemoteHostLength = 130;

    // Create: raises UDPSockError when the platform refuses start-up or the socket.
    explicit TNMUDP(QObject* owner);
    ~TNMUDP() override;

    int LocalPort() const { return localPort_; }
    // Closes the socket, restarts the start-up count, makes a new socket and binds it to
    // 0.0.0.0:port (a failed bind is not reported).
    void setLocalPort(int port);
    const std::string& RemoteHost() const { return remoteHost_; }
    void setRemoteHost(const std::string& host) { remoteHost_ = host; }
    int RemotePort() const { return remotePort_; }
    void setRemotePort(int port) { remotePort_ = port; }

    // Sends one datagram of `length` bytes to RemoteHost:RemotePort.
    void SendBuffer(const std::uint8_t* Buff, int length);
    // Copies the last received datagram into Buff (which must hold NumberBytes bytes).
    void ReadBuffer(std::uint8_t* Buff, int& length) const;

    int ReportLevel = 1;
    int LastErrorNo = 0;
    const std::string& StatusText() const { return status_; }

    TOnReceive OnDataReceived;
    TNotifyEvent OnDataSend;
    TOnStatus OnStatus;
    THandlerEvent OnInvalidHost;
    TBuffInvalid OnBufferInvalid;
    TErrorEvent OnErrorEvent;

    // Exposed for tests: the port the socket is bound to now (0 when unbound or no socket).
    int boundPort() const;
    bool sending() const { return sendDepth_ > 0; }

    void StatusMessage(int level, const std::string& text);
    void SocketCheck(int ignorable);

private:
    void makeSocket(bool setDontLinger);
    void bindAndRegister();
    void receive();
    std::uint32_t ResolveRemoteHost();
    void releaseSocket();

    std::array<std::uint8_t, ReceiveBufferSize> recvBuf_{};
    int ReceiveLength = 0;
    std::string remoteHost_;
    int remotePort_ = 0;
    int localPort_ = 0;
    int fd_ = -1;
    bool startedUp_ = false;
    bool ready_ = false;
    int sendDepth_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    // Cleared by the destructor; a send waiting in a host-name lookup checks it before it
    // touches the endpoint again.
    std::shared_ptr<bool> alive_;
    // The nested loops of host-name lookups waiting now (innermost last); the destructor ends
    // them.
    std::vector<QEventLoop*> lookupLoops_;
    std::string status_;
};

} // namespace velmar
