// The real POP3 servers that the pop-servers script starts for this build's tests: where they
// listen, the test user, the test authority's certificate, and a way to put mail in the box.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/records.h"

namespace kolvy::test {

struct PopServers {
    std::string user, password;
    std::string caFile;  // the test authority (trusted by no store)
    uint16_t dovecotPop3 = 0, dovecotPop3s = 0;
    std::string dovecotMaildir;
    uint16_t tls11Only = 0;  // a TLS server that speaks TLS 1.1 and nothing newer
    // mailutils pop3d: its user logs in as "kolvy@localhost" (a virtual domain), mbox mailbox.
    std::string mailutilsUser;
    uint16_t mailutilsPop3 = 0, mailutilsPop3s = 0;
    std::string mailutilsMbox;

    // Puts a message (CR LF lines) into the test user's dovecot mailbox.
    bool deliverToDovecot(std::string_view name, std::string_view message) const;
    // Removes every message from the test user's dovecot mailbox.
    void emptyDovecot() const;
    // Appends a message (CR LF lines) to the mailutils user's mbox, and empties that mbox.
    bool deliverToMailutils(std::string_view message) const;
    void emptyMailutils() const;
    // An account of the test user on dovecot or mailutils: sslMode 0 plain, 1 TLS on connect,
    // 2 STLS; the certificate accepted unverified (nothing trusts the test authority).
    Account account(const char* name, int sslMode, bool apop, bool mailutils = false) const;
};

// The servers of this build, or nothing when the script has not run.
std::optional<PopServers> popServers();

}  // namespace kolvy::test
