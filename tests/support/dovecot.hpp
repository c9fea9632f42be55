// A private IMAP and POP3 server for one test: its own folder, ports and user list, with
// plaintext logins allowed and no growing delay after wrong passwords, so that a failed login
// costs about half a second instead of up to 15.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

#include "process.hpp"

namespace testsupport {

struct DovecotOptions {
    std::map<std::string, std::string> users{};  // user -> password (printable, without ':')
    std::string extra_config{};                  // appended to the generated dovecot.conf
    // TLS with a self-signed certificate for CN and DNS name "localhost": STARTTLS on the IMAP
    // and POP3 ports, and an imaps port.
    bool tls = false;
};

class Dovecot {
public:
    // Returns once both ports greet a client; throws with the tail of the server's log.
    explicit Dovecot(DovecotOptions options);

    std::uint16_t imap_port() const { return imap_port_; }
    std::uint16_t pop3_port() const { return pop3_port_; }
    std::uint16_t imaps_port() const { return imaps_port_; }  // 0 without TLS
    // Puts a message into the user's Maildir/new/ (as delivered, unseen) and returns its path.
    std::filesystem::path deliver(const std::string &user, const std::string &message) const;
    // SIGTERM to the master, which ends its children; it exits about 1.1 s later.
    void stop() { daemon_.stop(); }

private:
    TempDir dir_;  // declared first: removed after the server has stopped
    std::uint16_t imap_port_ = 0, pop3_port_ = 0, imaps_port_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    Daemon daemon_;
};

}  // namespace testsupport
