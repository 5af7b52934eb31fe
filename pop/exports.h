// Receiving functions the program exports to plug-ins and to the mail checker that hold a server
// connection of their own: logging such a connection in for an account, and an account's name.
#pragma once

#include <cstdint>

#include "config/accounts.h"
#include "core/records.h"
#include "platform/env.h"
#include "pop/connection.h"

namespace kolvy::pop {

// Results of KVA_CheckPassword.
inline constexpr int kLoginOk = 0;
inline constexpr int kLoginCommandFailed = 1;  // a command could not be sent or answered
inline constexpr int kLoginNoGreeting = 2;
inline constexpr int kLoginApopRefused = 3;
inline constexpr int kLoginRefused = 4;  // USER or PASS answered "-ERR"

// Where the exports find the program's environment and account list; set once at start-up
// (null until then: the exports then fail, or return an empty name).
void setExportHost(Env* env, config::AccountList* accounts);

// On a connection whose greeting has not been read: reads it and logs in for the account, with
// APOP when the account asks for it, else with USER and PASS (no PASS after a refused USER).
// Shows nothing; commands and replies go to the conversation log as usual.
int CheckPassword(Connection& conn, const Account& account);

// The name of the account with the number; when none has it, the last account's name (empty
// when there is no account).
std::string_view accountName(const config::AccountList& accounts, int32_t number);

}  // namespace kolvy::pop

extern "C" {
// Reads the greeting on `socket` (a SOCKET the caller connected; through the process's TLS
// session when one is active) and logs in for the account with that number: kLogin… results.
int KOLVY_STDCALL KVA_CheckPassword(uintptr_t socket, int32_t accountNumber);
// The account's name in a process-wide buffer that the next call overwrites.
const char* KOLVY_STDCALL KVA_GetAcountName(int32_t accountNumber);
}
