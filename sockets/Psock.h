#pragma once
// TPowersock: the stream socket component. The launcher uses only its construction, LocalIP and
// destruction; the status channel, the error check and the error-text table come with it.
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmar {

class ESockError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// An IPv4 address as its four bytes in network order (192.168.0.7 is {192, 168, 0, 7}).
using IPv4Bytes = std::array<std::uint8_t, 4>;

// "%d.%d.%d.%d" of the four bytes, each as an unsigned number (200.1.2.3 stays positive).
std::string FormatDottedQuad(const IPv4Bytes& addr);

// The machine's LAN address from what the resolver lists for the host name (in its order) and
// the IPv4 addresses of the interfaces that are up. The resolver's first address, unless that
// is a loopback address (127.x.x.x, as many systems map their own host name): then the first
// interface address that is not loopback, and only when there is none the resolver's answer.
// "" when the resolver listed nothing.
std::string ChooseLanAddress(const std::vector<IPv4Bytes>& resolverAddrs,
                             const std::vector<IPv4Bytes>& interfaceAddrs);

class TPowersock : public QObject {
    Q_OBJECT
public:
    using TOnStatus = std::function<void(QObject* Sender, const std::string& status)>;
    using TErrorEvent =
        std::function<void(QObject* Sender, std::uint16_t errorNo, const std::string& msg)>;

    // Raises ESockError "Initializaton of windows sockets failed" when start-up fails.
    explicit TPowersock(QObject* owner);
    ~TPowersock() override;

    // The machine's own IPv4 address as a dotted quad; "" when it can not be found.
    std::string LocalIP();

    std::string SocketCheck(std::uint16_t ignore);
    std::string ErrorMessage(std::uint16_t code);
    void StatusMessage(int level, const std::string& text);

    static int WinsockUsers();
    const std::vector<std::string>& WinsockInfo() const { return info_; }

    std::string Host;
    std::uint16_t Port = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    int LastErrorNo = 0;
    const std::string& StatusText() const { return status_; }
    TOnStatus OnStatus;
    TErrorEvent OnErrorEvent;

private:
    void InitWinsock();
    void closeSocket();

    int fd_ = -1;
    bool destroying_ = false;
    bool canceled_ = false;
    std::vector<std::string> info_;
    std::string status_;
};

} // namespace velmar
