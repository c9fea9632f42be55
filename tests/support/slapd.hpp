// A private LDAP directory for one test: its own folder, port and database, loaded from LDIF
// before it starts. The schema is the stock one except that facsimileTelephoneNumber can be
// matched for equality, which a directory searched by fax number needs.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "process.hpp"
#include "tempdir.hpp"

namespace testsupport {

struct SlapdOptions {
    std::string ldif{};  // loaded with slapadd before the start; build it with the ldif_ helpers
    bool default_search_base = false;  // when set, a search with the empty base searches the suffix
    std::string extra_config{};        // appended to the database section of slapd.conf
};

class Slapd {
  public:
    static constexpr const char *kSuffix = "dc=example,dc=org";
    static constexpr const char *kPeopleDn = "ou=people,dc=example,dc=org";
    static constexpr const char *kRootDn = "cn=admin,dc=example,dc=org";
    static constexpr const char *kRootPassword = "secret";

    // Loads the LDIF, starts slapd and returns once it accepts connections; throws with the
    // tail of the tool's or the server's log when that fails.
    explicit Slapd(SlapdOptions options = {});
    ~Slapd() = default;

    Slapd(Slapd &&) noexcept = default;
    Slapd &operator=(Slapd &&) = delete;  // would remove the old folder before the old server stops

    std::uint16_t port() const { return port_; }
    std::string url() const;  // "ldap://127.0.0.1:PORT"
    pid_t pid() const { return daemon_.pid(); }
    const TempDir &dir() const { return dir_; }

    // SIGSTOP / SIGCONT: a paused server still accepts connections (the kernel does) but answers
    // nothing.
    void pause() const { daemon_.signal(SIGSTOP); }
    void resume() const { daemon_.signal(SIGCONT); }
    void stop() { daemon_.stop(); }
    std::string log_tail() const { return daemon_.log_tail(); }

  private:
    TempDir dir_;  // declared first: destroyed after the server has stopped
    std::uint16_t port_ = 0;
    Daemon daemon_;
};

using LdifAttributes = std::vector<std::pair<std::string, std::string>>;

// One entry; values that LDIF cannot carry as they are (non-ASCII, leading space, ...) are
// written base64-encoded, so any bytes may be given.
std::string ldif_entry(const std::string &dn, const LdifAttributes &attributes);

// The suffix entry and ou=people under it.
std::string ldif_base();

// An inetOrgPerson cn=<cn>,ou=people,dc=example,dc=org with the uid and the fax numbers given;
// cn defaults to the uid (give distinct cn values for two entries with the same uid).
std::string ldif_person(const std::string &uid, const std::vector<std::string> &fax_numbers,
                        const std::string &cn = "");

// The same without any uid attribute.
std::string ldif_person_without_uid(const std::string &cn,
                                    const std::vector<std::string> &fax_numbers);

// A DN attribute value with the characters that RFC 4514 requires escaped escaped.
std::string escape_dn_value(const std::string &value);

}  // namespace testsupport
