#include "tests/tls/TlsTestPair.h"

namespace zumelko::testing {

void TlsEnd::Drive() {
    if (!session) return;
    session->Advance();
    while (sent < outgoing.size()) {
        const int n = session->Write(outgoing.data() + sent, static_cast<int>(outgoing.size() - sent));
        if (n <= 0) {
            if (n == 0 && session->State() == tls::TlsState::Open) ++wouldBlock;
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    char buffer[10000];  // not a multiple of the record size, so records are read in parts
    for (;;) {
        const int n = session->Read(buffer, static_cast<int>(sizeof buffer));
        if (n < 0) readEnded = true;
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
}

TlsServerEnd::TlsServerEnd(Component& root, const tls::TlsContext& context)
    : server_(root.Create<TTCPServer>()), context_(context) {
    // As a channel does: a session that failed has its connection closed.
    auto drive = [this](Component*, platform::SocketHandle handle) {
        end_.Drive();
        if (end_.session && end_.session->State() == tls::TlsState::Failed && server_.Clients().Contains(handle))
            server_.CloseClient(handle);
    };
    server_.OnData = drive;
    server_.OnWrite = drive;
    server_.OnClose = drive;
    server_.OnAccept = [this, drive](Component* sender, platform::SocketHandle handle) {
        ++accepted_;
        end_ = TlsEnd{};
        end_.pipe = std::make_unique<tls::ServerPipe>(server_, handle);
        end_.session = std::make_unique<tls::TlsSession>(context_, tls::TlsRole::Server, *end_.pipe);
        if (onAccept) onAccept(end_);
        end_.session->Start();
        drive(sender, handle);
    };
    server_.SetPort("0");
    server_.Listen();
    platform::SockAddrIn local;
    if (platform::Current().sockets().GetSockName(server_.SocketHandle(), local) == 0) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(&local.port);
        port_ = static_cast<std::uint16_t>((b[0] << 8) | b[1]);
    }
}

TlsClientEnd::TlsClientEnd(Component& root, const tls::TlsContext& context, std::uint16_t port)
    : client_(root.Create<TTCPClient>()) {
    end_.pipe = std::make_unique<tls::ClientPipe>(client_);
    end_.session = std::make_unique<tls::TlsSession>(context, tls::TlsRole::Client, *end_.pipe);
    auto drive = [this](Component*, platform::SocketHandle) { end_.Drive(); };
    client_.OnData = drive;
    client_.OnWrite = drive;
    client_.OnClose = drive;
    client_.OnConnect = [this](Component*, platform::SocketHandle) {
        end_.session->Start();
        end_.Drive();
    };
    client_.SetHost("127.0.0.1");
    client_.SetPort(std::to_string(port));
    client_.Open();
}

int MemoryPipe::Send(const void* data, int length, int&) {
    written.append(static_cast<const char*>(data), static_cast<std::size_t>(length));
    return length;
}

int MemoryPipe::Receive(void*, int, int& error) {
    error = platform::WSAEWOULDBLOCK_;
    return -1;
}

std::string ClientHello(const tls::TlsContext& context) {
    MemoryPipe pipe;
    tls::TlsSession session(context, tls::TlsRole::Client, pipe);
    session.Start();
    return pipe.written;
}

bool Pump(platform::sim::ScopedSimDesktop& desktop, const std::function<bool()>& done,
          std::chrono::milliseconds limit) {
    return desktop->loop().RunUntilFor(done, limit);
}

}  // namespace zumelko::testing
