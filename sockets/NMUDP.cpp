#include "sockets/NMUDP.h"

#include "address/NetworkModule.h"
#include "sockets/SocketShim.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace velmar {

namespace {

constexpr const char* HostLookupCanceled = "Host Lookup Canceled";

// The result of one host-name lookup, shared between the waiting send and the lookup's callback.
struct LookupResult {
    bool done = false;
    std::optional<std::uint32_t> address; // network order
    QEventLoop* loop = nullptr;
};

// Keeps the nesting count of sends right without touching an endpoint that was destroyed while
// one of its sends waited.
class SendDepthGuard {
public:
    SendDepthGuard(std::shared_ptr<bool> alive, int& depth)
        : alive_(std::move(alive)), depth_(depth) {
        ++depth_;
    }
    ~SendDepthGuard() {
        if (*alive_)
            --depth_;
    }
    SendDepthGuard(const SendDepthGuard&) = delete;
    SendDepthGuard& operator=(const SendDepthGuard&) = delete;

private:
    std::shared_ptr<bool> alive_;
    int& depth_;
};

std::string formatAddress(const in_addr& addr) {
    const auto* b = reinterpret_cast<const unsigned char*>(&addr.s_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

} // namespace

TNMUDP::TNMUDP(QObject* owner) : QObject(owner), alive_(std::make_shared<bool>(true)) {
    ready_ = false;
    ReportLevel = 1;
    try {
        StatusMessage(8, "Initializing Winsock");
        if (net::startup() != 0) {
            SocketCheck(net::WSAEWOULDBLOCK);
        } else {
            startedUp_ = true;
            makeSocket(true);
        }
    } catch (...) {
        // The endpoint does not come into being: give back what it took, exactly once.
        releaseSocket();
        if (startedUp_) {
            net::cleanup();
            startedUp_ = false;
        }
        throw;
    }
    ready_ = true;
}

TNMUDP::~TNMUDP() {
    *alive_ = false;
    // A send waiting for a host name must not go on waiting for an endpoint that is gone.
    for (QEventLoop* loop : lookupLoops_)
        loop->quit();
    releaseSocket();
    if (startedUp_)
        net::cleanup();
}

void TNMUDP::makeSocket(bool setDontLinger) {
    fd_ = net::udpSocket();
    if (fd_ < 0) {
        SocketCheck(net::WSAEWOULDBLOCK);
        return;
    }
    if (setDontLinger) {
        // Closing the socket never waits for unsent data; the result does not matter.
        linger off{};
        off.l_onoff = 0;
        off.l_linger = 0;
        (void)::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    }
}

void TNMUDP::releaseSocket() {
    if (notifier_) {
        // Safe also while the notifier is delivering its own activation: Qt's dispatcher copes
        // with a notifier that goes away inside its handler.
        notifier_->setEnabled(false);
        delete notifier_;
        notifier_ = nullptr;
    }
    if (fd_ >= 0) {
        net::closeSocket(fd_);
        fd_ = -1;
    }
}

void TNMUDP::setLocalPort(int port) {
    releaseSocket();
    if (startedUp_) {
        net::cleanup();
        startedUp_ = false;
    }
    if (net::startup() != 0) {
        localPort_ = port;
        SocketCheck(net::WSAEWOULDBLOCK);
        return;
    }
    startedUp_ = true;
    fd_ = net::udpSocket();
    if (fd_ < 0) {
        // Without a socket the endpoint holds no start-up either.
        const int error = net::lastError();
        net::cleanup();
        startedUp_ = false;
        net::setLastError(error);
        localPort_ = port;
        SocketCheck(net::WSAEWOULDBLOCK);
        return;
    }
    localPort_ = port;
    bindAndRegister();
}

void TNMUDP::bindAndRegister() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::inet_addr("0.0.0.0");
    local.sin_port = htons(static_cast<std::uint16_t>(localPort_));
    // A port held by another socket leaves this one unbound until its first send, when the
    // system picks a port; receiving still works then.
    (void)::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TNMUDP::receive);
}

int TNMUDP::boundPort() const {
    if (fd_ < 0)
        return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

void TNMUDP::receive() {
    if (!ready_ || fd_ < 0)
        return;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    // MSG_TRUNC makes the call return the datagram's real size, so one that did not fit is
    // recognised and reported as a failed receive instead of handing on a cut-off datagram.
    const ssize_t n = ::recvfrom(fd_, recvBuf_.data(), recvBuf_.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR)
            return; // nothing is waiting after all
        net::setLastError(net::wsaErrorFromErrno(err));
        ReceiveLength = -1;
    } else if (n > ReceiveBufferSize) {
        net::setLastError(10040); // message too long
        ReceiveLength = -1;
    } else {
        ReceiveLength = static_cast<int>(n);
    }
    if (!OnDataReceived)
        return;
    // The handler may destroy this endpoint: call a copy of it and touch nothing afterwards.
    const TOnReceive handler = OnDataReceived;
    const int count = ReceiveLength;
    handler(this, count, formatAddress(from.sin_addr), ntohs(from.sin_port));
}

void TNMUDP::ReadBuffer(std::uint8_t* Buff, int& length) const {
    if (ReceiveLength > 0 && Buff)
        std::memcpy(Buff, recvBuf_.data(), static_cast<std::size_t>(ReceiveLength));
    length = ReceiveLength;
}

void TNMUDP::SendBuffer(const std::uint8_t* Buff, int length) {
    std::vector<std::uint8_t> data;
    if (length > 0 && Buff)
        data.assign(Buff, Buff + length);
    else
        length = 0;
    if (length == 0) {
        bool handled = false;
        if (OnBufferInvalid) {
            const TBuffInvalid handler = OnBufferInvalid;
            handler(handled, data, length);
        }
        // A repaired length must be covered by the repaired buffer.
        if (!handled || length <= 0 || static_cast<std::size_t>(length) > data.size())
            throw InvalidBufferError("Invalid buffer");
    }

    const std::shared_ptr<bool> alive = alive_;
    SendDepthGuard depth(alive, sendDepth_);
    const std::uint32_t address = ResolveRemoteHost();
    if (address == 0)
        throw UDPSockError("Null Remote Address");
    StatusMessage(2, "Sending Data");
    if (!*alive)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(remotePort_));
    to.sin_addr.s_addr = address;
    if (fd_ >= 0) {
        // A failed send is not reported: the datagram is simply lost, as any datagram may be.
        (void)::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to);
    }
    if (OnDataSend) {
        const TNotifyEvent handler = OnDataSend;
        handler(this);
    }
}

std::uint32_t TNMUDP::ResolveRemoteHost() {
    const std::string host = remoteHost_;
    // A name longer than the lookup takes, or one with a zero byte inside, is refused as a
    // whole: cutting it would send the datagram to some other host.
    const bool acceptable = host.size() <= static_cast<std::size_t>(MaxRemoteHostLength) &&
                            host.find('\0') == std::string::npos;
    if (acceptable) {
        const in_addr_t quad = ::inet_addr(host.c_str());
        if (quad != INADDR_NONE)
            return quad;
    }

    const std::shared_ptr<bool> alive = alive_;
    auto lookUp = [&]() -> std::optional<std::uint32_t> {
        if (!acceptable)
            return std::nullopt;
        auto result = std::make_shared<LookupResult>();
        QEventLoop loop;
        QObject context; // destroyed before `loop`: a late answer never reaches a dead loop
        result->loop = &loop;
        // The host-name lookup lives in the network module, loaded by the first lookup.
        const NetworkModule* network = networkModule();
        if (!network)
            return std::nullopt;
        network->lookupHost(host, &context, [result](std::optional<std::uint32_t> address) {
            result->done = true;
            result->address = address;
            if (result->loop)
                result->loop->quit();
        });
        if (!result->done) {
            lookupLoops_.push_back(&loop);
            loop.exec();
            if (!*alive)
                return std::nullopt;
            lookupLoops_.erase(std::remove(lookupLoops_.begin(), lookupLoops_.end(), &loop),
                               lookupLoops_.end());
        }
        result->loop = nullptr;
        return result->address;
    };

    std::optional<std::uint32_t> address = lookUp();
    if (!*alive)
        throw UDPSockError(HostLookupCanceled);
    if (!address && OnInvalidHost) {
        bool handled = false;
        const THandlerEvent handler = OnInvalidHost;
        handler(handled);
        if (!*alive)
            throw UDPSockError(HostLookupCanceled);
        if (handled) {
            address = lookUp();
            if (!*alive)
                throw UDPSockError(HostLookupCanceled);
        }
    }
    if (!address)
        throw UDPSockError(HostLookupCanceled);
    return *address;
}

void TNMUDP::StatusMessage(int level, const std::string& text) {
    if (level > ReportLevel)
        return;
    status_ = text;
    if (OnStatus) {
        const TOnStatus handler = OnStatus;
        handler(this, status_);
    }
}

void TNMUDP::SocketCheck(int ignorable) {
    StatusMessage(16, "Checking Error In Error Manager");
    const int code = net::lastError();
    LastErrorNo = code;
    if (code == ignorable)
        return;
    const std::string message =
        code == 0 ? std::string() : "Unknown Error No. " + std::to_string(code);
    StatusMessage(8, "Looking Up Error Message" + message);
    if (OnErrorEvent) {
        const TErrorEvent handler = OnErrorEvent;
        handler(this, static_cast<std::uint16_t>(code), message);
    }
    throw UDPSockError(message);
}

} // namespace velmar
