// Zorvan2.dll: the SSL functions over Schannel (SSPI). One TLS session per process, on the
// socket the caller connected. The certificate is checked by the chain engine (the system's
// trusted roots) and the SSL policy (the host name); both results are looked at, since a chain
// engine may report an untrusted root only in the chain's own status.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "external/zorvan2/zorvan2.h"
#include "external/zorvan2/zorvan2_text.h"

#ifndef SP_PROT_TLS1_3_CLIENT
#define SP_PROT_TLS1_3_CLIENT 0x00002000
#endif
#ifndef SCH_USE_STRONG_CRYPTO
#define SCH_USE_STRONG_CRYPTO 0x00400000
#endif

namespace {

// The largest TLS record with its header and trailer.
constexpr size_t kRecordRoom = 16384 + 2048;

struct Session {
    SOCKET socket = INVALID_SOCKET;
    CredHandle cred{};
    CtxtHandle ctx{};
    bool haveCred = false, haveCtx = false;
    SecPkgContext_StreamSizes sizes{};
    std::vector<char> encrypted;  // received, not yet decrypted
    std::vector<char> plain;      // decrypted, not yet handed out
    size_t plainPos = 0;
    bool ended = false;  // the server closed the session
};
Session g;

void say(char* message, const std::string& text) {
    if (!message) return;
    std::snprintf(message, kZvMessageSize, "%s", text.c_str());
}

std::string code(long status) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(status));
    return buf;
}

void release() {
    if (g.haveCtx) DeleteSecurityContext(&g.ctx);
    if (g.haveCred) FreeCredentialsHandle(&g.cred);
    g = Session{};
}

bool sendAll(const char* data, size_t size) {
    while (size) {
        const int n = send(g.socket, data, static_cast<int>(size > 0x10000 ? 0x10000 : size), 0);
        if (n == SOCKET_ERROR || n == 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One receive appended to the encrypted input; false on error, time-out or end of stream.
bool receiveMore() {
    const size_t old = g.encrypted.size();
    g.encrypted.resize(old + kRecordRoom);
    const int n = recv(g.socket, g.encrypted.data() + old, static_cast<int>(kRecordRoom), 0);
    if (n <= 0) {
        g.encrypted.resize(old);
        return false;
    }
    g.encrypted.resize(old + static_cast<size_t>(n));
    return true;
}

// The selector names the lowest version. TLS 1.3 is offered only when asked for alone: through
// SCHANNEL_CRED, systems that cannot do 1.3 with this credential form fail the handshake when
// its flag is mixed in, and 1.2 is what every mail server here speaks.
DWORD protocolsFrom(int32_t selector) {
    switch (selector & kZvVersionMask) {
        case kZvTls10:
            return SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_2_CLIENT;
        case kZvTls11:
            return SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_2_CLIENT;
        case kZvTls13:
            return SP_PROT_TLS1_3_CLIENT;
        default:
            return SP_PROT_TLS1_2_CLIENT;
    }
}

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

const char* chainReason(DWORD status) {
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return "certificate expired or not yet valid";
    if (status & CERT_TRUST_IS_REVOKED) return "certificate revoked";
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        return "issuer not trusted";
    }
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "bad signature";
    return "certificate chain not valid";
}

// Empty when the certificate is good for the host; otherwise why not.
std::string verifyPeer(const std::string& host) {
    if (host.empty()) return "no host name";
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(&g.ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
        !cert) {
        return "no server certificate";
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    std::string why;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr,
                                 &chain)) {
        why = "certificate chain not built " + code(static_cast<long>(GetLastError()));
    } else {
        const DWORD chainStatus = chain->TrustStatus.dwErrorStatus;
        std::wstring name = wide(host);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
        extra.cbSize = sizeof extra;
        extra.dwAuthType = AUTHTYPE_SERVER;
        extra.pwszServerName = name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &extra;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
            why = "policy check failed";
        } else if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
            why = "host name mismatch";
        } else if (status.dwError != 0) {
            why = "certificate refused " + code(static_cast<long>(status.dwError));
        } else if (chainStatus != CERT_TRUST_NO_ERROR) {
            why = chainReason(chainStatus);
        }
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(cert);
    return why;
}

// The handshake loop; empty when TLS is up, otherwise why not.
std::string negotiate(const std::string& host) {
    const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                       ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    std::string target = host;
    SECURITY_STATUS s = SEC_I_CONTINUE_NEEDED;
    bool first = true;
    while (s == SEC_I_CONTINUE_NEEDED || s == SEC_E_INCOMPLETE_MESSAGE ||
           s == SEC_I_INCOMPLETE_CREDENTIALS) {
        if (!first && (s == SEC_E_INCOMPLETE_MESSAGE || g.encrypted.empty())) {
            if (!receiveMore()) return "connection closed during the handshake";
        }
        SecBuffer inBufs[2] = {
            {static_cast<unsigned long>(g.encrypted.size()), SECBUFFER_TOKEN, g.encrypted.data()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
        SecBuffer outBufs[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, outBufs};
        DWORD got = 0;
        s = InitializeSecurityContextA(
            &g.cred, first ? nullptr : &g.ctx, target.empty() ? nullptr : target.data(), want, 0, 0,
            first ? nullptr : &inDesc, 0, first ? &g.ctx : nullptr, &outDesc, &got, nullptr);
        if (first) g.haveCtx = s == SEC_I_CONTINUE_NEEDED || s == SEC_E_OK;
        first = false;
        if (outBufs[0].cbBuffer && outBufs[0].pvBuffer) {
            const bool sent =
                sendAll(static_cast<const char*>(outBufs[0].pvBuffer), outBufs[0].cbBuffer);
            FreeContextBuffer(outBufs[0].pvBuffer);
            if (!sent) return "connection closed during the handshake";
        }
        if (s == SEC_E_INCOMPLETE_MESSAGE) continue;
        // What the step did not use stays for the next one (or is the first protected data).
        if (inBufs[1].BufferType == SECBUFFER_EXTRA && inBufs[1].cbBuffer) {
            g.encrypted.erase(g.encrypted.begin(),
                              g.encrypted.end() - static_cast<long>(inBufs[1].cbBuffer));
        } else if (s != SEC_E_INCOMPLETE_MESSAGE) {
            g.encrypted.clear();
        }
    }
    if (s != SEC_E_OK) return "handshake refused " + code(s);
    if (QueryContextAttributesA(&g.ctx, SECPKG_ATTR_STREAM_SIZES, &g.sizes) != SEC_E_OK) {
        return "no stream sizes";
    }
    return {};
}

// Decrypts what has arrived into the plain buffer; false when more input is needed.
// Sets g.ended when the server closed the session.
bool decryptSome(bool& failed) {
    failed = false;
    if (g.encrypted.empty()) return false;
    SecBuffer bufs[4] = {
        {static_cast<unsigned long>(g.encrypted.size()), SECBUFFER_DATA, g.encrypted.data()},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    const SECURITY_STATUS s = DecryptMessage(&g.ctx, &desc, 0, nullptr);
    if (s == SEC_E_INCOMPLETE_MESSAGE) return false;
    if (s == SEC_I_CONTEXT_EXPIRED) {
        g.ended = true;
        g.encrypted.clear();
        return true;
    }
    if (s != SEC_E_OK && s != SEC_I_RENEGOTIATE) {
        failed = true;
        return false;
    }
    std::vector<char> rest;
    for (const SecBuffer& b : bufs) {
        if (b.BufferType == SECBUFFER_DATA && b.cbBuffer) {
            const char* p = static_cast<const char*>(b.pvBuffer);
            g.plain.insert(g.plain.end(), p, p + b.cbBuffer);
        } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer) {
            const char* p = static_cast<const char*>(b.pvBuffer);
            rest.assign(p, p + b.cbBuffer);
        }
    }
    g.encrypted.swap(rest);
    return true;
}

}  // namespace

extern "C" int KOLVY_STDCALL ZV_SSL_HandShake(ZvSocket* socket, int32_t protocol, char* message) {
    std::string host;
    if (message) host.assign(message, strnlen(message, kZvMessageSize - 1));
    release();  // never carry a session over from an earlier connection
    if (!socket) {
        say(message, zorvan2::kTextNoSocket);
        return 1;
    }
    g.socket = static_cast<SOCKET>(*socket);

    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = protocolsFrom(protocol);
    // The certificate is judged below, so that the refusal can say why.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    char package[] = UNISP_NAME_A;
    TimeStamp expiry;
    SECURITY_STATUS s = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr,
                                                  &cred, nullptr, nullptr, &g.cred, &expiry);
    if (s != SEC_E_OK) {
        say(message, zorvan2::kTextSetupFailed + code(s));
        release();
        return 1;
    }
    g.haveCred = true;

    const std::string failure = negotiate(host);
    if (!failure.empty()) {
        say(message, zorvan2::kTextHandshakeFailed + failure);
        release();
        return 1;
    }
    const std::string why = verifyPeer(host);
    if (!why.empty()) {
        if (!(protocol & kZvAcceptUnverified)) {
            char ignored[kZvMessageSize];
            ZV_SSL_Shutdown(ignored);
            say(message, zorvan2::kTextCertRefused + why + zorvan2::kTextClose);
            return 1;
        }
        say(message, zorvan2::kTextCertAccepted + why + zorvan2::kTextClose);
        return 0;
    }
    say(message, zorvan2::kTextEstablished + std::string("Schannel") + zorvan2::kTextClose);
    return 0;
}

extern "C" int KOLVY_STDCALL ZV_SSL_Shutdown(char* message) {
    if (g.haveCtx && g.socket != INVALID_SOCKET) {
        // Our close notify; the server's is not waited for.
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer in[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 1, in};
        if (ApplyControlToken(&g.ctx, &inDesc) == SEC_E_OK) {
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
            DWORD got = 0;
            const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                               ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
            InitializeSecurityContextA(&g.cred, &g.ctx, nullptr, want, 0, 0, nullptr, 0, nullptr,
                                       &outDesc, &got, nullptr);
            if (out[0].pvBuffer) {
                if (out[0].cbBuffer) {
                    sendAll(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
                }
                FreeContextBuffer(out[0].pvBuffer);
            }
        }
    }
    release();
    say(message, "");
    return 0;
}

extern "C" int KOLVY_STDCALL ZV_SSL_Read(char* buffer, int capacity) {
    if (!g.haveCtx || !buffer || capacity <= 0) return -1;
    while (g.plainPos >= g.plain.size()) {
        g.plain.clear();
        g.plainPos = 0;
        if (g.ended) return 0;
        bool failed = false;
        if (decryptSome(failed)) continue;
        if (failed) return -1;
        if (!receiveMore()) return -1;
    }
    const size_t n = std::min(static_cast<size_t>(capacity), g.plain.size() - g.plainPos);
    std::memcpy(buffer, g.plain.data() + g.plainPos, n);
    g.plainPos += n;
    return static_cast<int>(n);
}

extern "C" int KOLVY_STDCALL ZV_SSL_Write(const char* text, char* message) {
    if (!g.haveCtx) {
        say(message, zorvan2::kTextNotConnected);
        return 1;
    }
    size_t length = text ? std::strlen(text) : 0;
    const size_t most = g.sizes.cbMaximumMessage;
    std::vector<char> record(g.sizes.cbHeader + most + g.sizes.cbTrailer);
    while (length) {
        const size_t piece = std::min(length, most);
        std::memcpy(record.data() + g.sizes.cbHeader, text, piece);
        SecBuffer bufs[4] = {
            {g.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + g.sizes.cbHeader},
            {g.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + g.sizes.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
        const SECURITY_STATUS s = EncryptMessage(&g.ctx, 0, &desc, 0);
        if (s != SEC_E_OK) {
            say(message, zorvan2::kTextWriteFailed + code(s));
            return 1;
        }
        if (!sendAll(record.data(), bufs[0].cbBuffer + bufs[1].cbBuffer + bufs[2].cbBuffer)) {
            say(message, zorvan2::kTextWriteFailed + code(WSAGetLastError()));
            return 1;
        }
        text += piece;
        length -= piece;
    }
    return 0;
}
