// A server session fed arbitrary bytes as its client's records, in pieces of one size per
// input, one piece per read notice, then the client's FIN. The first byte picks the server's
// set-up: bit 0 a team passphrase, bits 1-2 the piece size. Checked after every step:
//   - Read never gives more than the buffer holds, and nothing once the session has failed;
//   - a failed session says so with a text for the user and takes no more writes;
//   - the session never opens: bytes made without this server's key shares cannot finish a
//     handshake;
//   - what the server writes back stays within a handshake flight and its alert;
// and at the end, after the FIN, the handshake is over: no input leaves it waiting.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/Sockets.h"
#include "transport/tls/TlsSession.h"

namespace {

using zumelko::tls::TlsState;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "tls invariant broken: %s\n", what);
    std::abort();
}

struct FuzzPipe final : zumelko::tls::TlsPipe {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    std::size_t piece = 1;
    bool noticed = false;  // a read notice came and no receive has used it
    std::size_t written = 0;

    int Send(const void*, int length, int&) override {
        written += static_cast<std::size_t>(length);
        return length;
    }
    int Receive(void* buffer, int room, int& error) override {
        if (at == size) return 0;  // the FIN, once everything is read
        if (!noticed) {
            error = zumelko::platform::WSAEWOULDBLOCK_;
            return -1;
        }
        noticed = false;
        std::size_t n = piece < size - at ? piece : size - at;
        if (n > static_cast<std::size_t>(room)) n = static_cast<std::size_t>(room);
        std::memcpy(buffer, data + at, n);
        at += n;
        return static_cast<int>(n);
    }
};

// One server set-up without a passphrase and one with, made once: a key pair and a key
// derivation per input would drown the fuzzing.
const zumelko::tls::TlsContext& Context(bool passphrase) {
    static const auto contexts = [] {
        auto c = std::make_unique<std::array<zumelko::tls::TlsContext, 2>>();
        (*c)[1].SetPassphraseKey(zumelko::tls::DerivePassphraseKey("fuzz team"));
        return c;
    }();
    return (*contexts)[passphrase ? 1 : 0];
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

void Check(zumelko::tls::TlsSession& session, const FuzzPipe& pipe) {
    if (session.State() == TlsState::Open) Fail("a session opened for bytes made without its key shares");
    if (session.State() == TlsState::Failed) {
        if (!StartsWith(session.ErrorText(), "TLS handshake failed: ")) Fail("a failure without its text");
        if (session.ErrorText().size() <= 22) Fail("a failure without a reason");
        char b[4];
        if (session.Read(b, sizeof b) != -1) Fail("a read after the failure");
        if (session.Write("x", 1) != -1) Fail("a write after the failure");
    }
    if (pipe.written > 16 * 1024) Fail("the server wrote more than a flight and an alert");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static constexpr std::size_t kPieces[4] = {1, 7, 300, 5000};
    FuzzPipe pipe;
    pipe.data = data + 1;
    pipe.size = size - 1;
    pipe.piece = kPieces[(data[0] >> 1) & 3];
    zumelko::tls::TlsSession session(Context((data[0] & 1) != 0), zumelko::tls::TlsRole::Server, pipe);
    session.Start();
    char buffer[1000];
    // Each notice moves at least one byte, so this many notices see the input through.
    for (std::size_t step = 0; step <= pipe.size + 2; ++step) {
        pipe.noticed = true;
        session.Advance();
        Check(session, pipe);
        for (;;) {
            const int n = session.Read(buffer, static_cast<int>(sizeof buffer));
            if (n > static_cast<int>(sizeof buffer)) Fail("more plaintext than the buffer holds");
            if (n <= 0) break;
        }
        Check(session, pipe);
        if (session.State() == TlsState::Failed || session.State() == TlsState::Closed) break;
    }
    if (session.State() == TlsState::Handshaking || session.State() == TlsState::Idle)
        Fail("the handshake still waits after the client's FIN");
    return 0;
}
