// A private IMAP and POP3 server for one test: its own folder, ports and user list, with
// plaintext logins allowed and no growing delay after wrong passwords, so that a failed login
// costs about half a second instead of up to 15.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

#include "process.hpp"
#include "tempdir.hpp"

namespace testsupport {

struct DovecotOptions {
    // user -> password. A password may hold any bytes (non-ASCII, ':', very long ones); a user
    // name may not hold ':', CR, LF or NUL.
    std::map<std::string, std::string> users{};
    std::string extra_config{};  // appended to the generated dovecot.conf
    // TLS with a self-signed certificate for CN and DNS name "localhost" (made by openssl in
    // the server's folder): STARTTLS offered on the IMAP and POP3 ports, and an imaps port.
    bool tls = false;
};

class Dovecot {
  public:
    // Starts the server and returns once both ports greet a client; throws with the tail
    // of the server's log when that fails.
    explicit Dovecot(DovecotOptions options);
    ~Dovecot() = default;

    Dovecot(Dovecot &&) noexcept = default;
    Dovecot &operator=(Dovecot &&) =
        delete;  // would remove the old folder before the old server stops

    std::uint16_t imap_port() const { return imap_port_; }
    std::uint16_t pop3_port() const { return pop3_port_; }
    std::uint16_t imaps_port() const { return imaps_port_; }  // 0 without TLS
    // The certificate of a TLS server (PEM).
    std::filesystem::path certificate() const { return dir_ / "cert.pem"; }
    // Puts a message into the user's Maildir/new/ (as delivered, unseen) and returns its path.
    std::filesystem::path deliver(const std::string &user, const std::string &message) const;
    // The master process (the pid in base_dir/master.pid).
    pid_t pid() const { return daemon_.pid(); }
    const TempDir &dir() const { return dir_; }
    std::filesystem::path base_dir() const { return dir_ / "run"; }

    // SIGTERM to the master, which ends its children; it exits about 1.1 s later.
    void stop() { daemon_.stop(); }
    std::string log_tail() const { return daemon_.log_tail(); }

  private:
    TempDir dir_;  // declared first: destroyed after the server has stopped
    std::uint16_t imap_port_ = 0;
    std::uint16_t pop3_port_ = 0;
    std::uint16_t imaps_port_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    Daemon daemon_;
};

}  // namespace testsupport
