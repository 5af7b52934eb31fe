// The SSL functions over OpenSSL 3 (the native build).
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "external/zorvan2/zorvan2.h"
#include "external/zorvan2/zorvan2_testing.h"
#include "external/zorvan2/zorvan2_text.h"

namespace {

// The one TLS connection of the process.
SSL_CTX* g_ctx = nullptr;
SSL* g_ssl = nullptr;
std::string g_extraTrustFile;

void release() {
    if (g_ssl) SSL_free(g_ssl);
    if (g_ctx) SSL_CTX_free(g_ctx);
    g_ssl = nullptr;
    g_ctx = nullptr;
}

void say(char* message, const std::string& text) {
    if (!message) return;
    std::snprintf(message, kZvMessageSize, "%s", text.c_str());
}

std::string lastOpenSslError() {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e) return "";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

int versionOf(int32_t selector) {
    switch (selector & kZvVersionMask) {
        case kZvTls10:
            return TLS1_VERSION;
        case kZvTls11:
            return TLS1_1_VERSION;
        case kZvTls13:
            return TLS1_3_VERSION;
        default:
            return TLS1_2_VERSION;
    }
}

bool isIpLiteral(const std::string& host) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    if (!ip) return false;
    ASN1_OCTET_STRING_free(ip);
    return true;
}

int fail(char* message, const std::string& text) {
    say(message, text);
    release();
    return 1;
}

}  // namespace

void ZvTest_SetExtraTrustFile(const char* path) {
    g_extraTrustFile = path ? path : "";
}

extern "C" int KOLVY_STDCALL ZV_SSL_HandShake(ZvSocket* socket, int32_t protocol, char* message) {
    std::string host;
    if (message) host.assign(message, strnlen(message, kZvMessageSize - 1));
    release();  // never carry a session over from an earlier connection
    // OpenSSL writes with write(): a server gone away must be an error, not a fatal signal.
    std::signal(SIGPIPE, SIG_IGN);
    ERR_clear_error();
    if (!socket) return fail(message, zorvan2::kTextNoSocket);

    g_ctx = SSL_CTX_new(TLS_client_method());
    if (!g_ctx) return fail(message, zorvan2::kTextSetupFailed + lastOpenSslError());
    const int minVersion = versionOf(protocol);
    SSL_CTX_set_min_proto_version(g_ctx, minVersion);
    // Versions below 1.2 run only at the user's explicit request, and then need the old ciphers.
    if (minVersion < TLS1_2_VERSION) SSL_CTX_set_security_level(g_ctx, 0);
    SSL_CTX_set_default_verify_paths(g_ctx);
    if (!g_extraTrustFile.empty()) {
        SSL_CTX_load_verify_locations(g_ctx, g_extraTrustFile.c_str(), nullptr);
    }
    // The result is judged after the handshake, so the refusal can say why.
    SSL_CTX_set_verify(g_ctx, SSL_VERIFY_NONE, nullptr);

    g_ssl = SSL_new(g_ctx);
    if (!g_ssl) return fail(message, zorvan2::kTextSetupFailed + lastOpenSslError());
    if (!host.empty()) {
        X509_VERIFY_PARAM* param = SSL_get0_param(g_ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (isIpLiteral(host)) {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
            SSL_set_tlsext_host_name(g_ssl, host.c_str());
        }
    }
    if (SSL_set_fd(g_ssl, *socket) != 1) {
        return fail(message, zorvan2::kTextSetupFailed + lastOpenSslError());
    }
    if (SSL_connect(g_ssl) != 1) {
        return fail(message, zorvan2::kTextHandshakeFailed + lastOpenSslError());
    }

    X509* cert = SSL_get1_peer_certificate(g_ssl);
    long verdict = SSL_get_verify_result(g_ssl);
    if (!cert) verdict = X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT;
    X509_free(cert);
    if (verdict != X509_V_OK || host.empty()) {
        const std::string why =
            host.empty() ? std::string("no host name") : X509_verify_cert_error_string(verdict);
        if (!(protocol & kZvAcceptUnverified)) {
            SSL_shutdown(g_ssl);
            return fail(message, zorvan2::kTextCertRefused + why + zorvan2::kTextClose);
        }
        say(message, zorvan2::kTextCertAccepted + why + zorvan2::kTextClose);
        return 0;
    }
    say(message,
        zorvan2::kTextEstablished + std::string(SSL_get_version(g_ssl)) + zorvan2::kTextClose);
    return 0;
}

extern "C" int KOLVY_STDCALL ZV_SSL_Shutdown(char* message) {
    if (g_ssl) SSL_shutdown(g_ssl);  // our close notify; the peer's is not waited for
    release();
    say(message, "");
    return 0;
}

extern "C" int KOLVY_STDCALL ZV_SSL_Read(char* buffer, int capacity) {
    if (!g_ssl || !buffer || capacity <= 0) return -1;
    const int n = SSL_read(g_ssl, buffer, capacity);
    if (n > 0) return n;
    const int e = SSL_get_error(g_ssl, n);
    ERR_clear_error();
    return e == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

extern "C" int KOLVY_STDCALL ZV_SSL_Write(const char* text, char* message) {
    if (!g_ssl) return fail(message, zorvan2::kTextNotConnected);
    const size_t length = text ? std::strlen(text) : 0;
    size_t done = 0;
    while (done < length) {
        const size_t piece = length - done > 0x40000000 ? 0x40000000 : length - done;
        const int n = SSL_write(g_ssl, text + done, static_cast<int>(piece));
        if (n <= 0) {
            say(message, zorvan2::kTextWriteFailed + lastOpenSslError());
            return 1;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}
