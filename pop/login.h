// The POP3 log-in with USER and PASS, shared by the receive session and by POP before SMTP.
#pragma once

#include <functional>

#include "core/records.h"
#include "platform/env.h"
#include "pop/connection.h"

namespace kolvy::pop {

// Sends USER and PASS on an open connection whose greeting was accepted. 0 logged in; 1 failed:
// a refusal was reported (the password never reaches a log) and QUIT sent, or the connection
// broke; either way the connection is closed.
int LogIn(Connection& conn, const Account& account);

// Connects to the account's POP3 server as receiving does (TLS, APOP), checks the greeting and
// logs in. 0 logged in, the connection open; 1 failed, reported, the connection closed.
int OpenAndLogIn(Connection& conn, const Account& account, unsigned timeoutMs);

}  // namespace kolvy::pop
