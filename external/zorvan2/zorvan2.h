// The SSL functions of the utility library "Zorvan2.dll": one TLS connection per process, over a
// socket the caller has connected. On Win32 the library is a DLL over Schannel, loaded by name at
// the first SSL connection; natively it is a static library over OpenSSL with the same four
// functions.
//
// The handshake's message buffer (kZvMessageSize bytes) carries the server's host name in, so
// the certificate can be checked against it, and the text to log or show out.
//
// The protocol selector: its low byte names the lowest TLS version allowed (kZvTls...); the flag
// kZvAcceptUnverified accepts a server whose certificate cannot be verified (the account's
// certificate setting 0, a self-signed home server), otherwise such a server is refused.
#pragma once

#include <cstdint>

#include "core/records.h"

#if defined(_WIN32)
using ZvSocket = uintptr_t;  // SOCKET
#else
using ZvSocket = int;
#endif

inline constexpr int kZvMessageSize = 512;

inline constexpr int32_t kZvTlsDefault = 0;  // TLS 1.2 and later
inline constexpr int32_t kZvTls10 = 1;
inline constexpr int32_t kZvTls11 = 2;
inline constexpr int32_t kZvTls12 = 3;
inline constexpr int32_t kZvTls13 = 4;
inline constexpr int32_t kZvVersionMask = 0xff;
inline constexpr int32_t kZvAcceptUnverified = 0x100;

extern "C" {
// 1 = failed (the message says why); anything else = TLS is up on *socket.
int KOLVY_STDCALL ZV_SSL_HandShake(ZvSocket* socket, int32_t protocol, char* message);
// Ends the TLS session (the socket stays for the caller to close). Result unused.
int KOLVY_STDCALL ZV_SSL_Shutdown(char* message);
// Bytes placed in buffer; 0 = the server ended the session; -1 = error or time-out.
int KOLVY_STDCALL ZV_SSL_Read(char* buffer, int capacity);
// Sends the NUL-terminated text: 0 = sent, otherwise the message says why not.
int KOLVY_STDCALL ZV_SSL_Write(const char* text, char* message);
}

using ZvHandShakeFn = int(KOLVY_STDCALL*)(ZvSocket*, int32_t, char*);
using ZvShutdownFn = int(KOLVY_STDCALL*)(char*);
using ZvReadFn = int(KOLVY_STDCALL*)(char*, int);
using ZvWriteFn = int(KOLVY_STDCALL*)(const char*, char*);
