// A private IMAP and POP3 server for one test: its own folder, ports and users.
#pragma once

#include "process.hpp"

namespace testsupport {

struct DovecotOptions {
    std::map<std::string, std::string> users{};  // user -> password (printable, without ':')
    std::string extra_config{};                  // appended to dovecot.conf
    // A self-signed certificate for "localhost": STARTTLS on both ports, and an imaps port.
    bool tls = false;
};

class Dovecot {
public:
    explicit Dovecot(DovecotOptions options);  // returns once both ports greet a client

    std::uint16_t imap_port() const { return imap_port_; }
    std::uint16_t pop3_port() const { return pop3_port_; }
    std::uint16_t imaps_port() const { return imaps_port_; }  // 0 without TLS
    // Puts a message into the user's Maildir/new/ (delivered, unseen); returns its path.
    std::filesystem::path deliver(const std::string &user, const std::string &message) const;

private:
    TempDir dir_;  // first: removed after the server has stopped
    std::uint16_t imap_port_ = 0, pop3_port_ = 0, imaps_port_ = 0;
    Daemon daemon_;
};

}  // namespace testsupport
