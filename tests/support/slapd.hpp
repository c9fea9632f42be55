// A private LDAP directory for one test: its own folder, port and database, loaded from LDIF.
#pragma once

#include "process.hpp"

namespace testsupport {

struct SlapdOptions {
    std::string ldif{};  // loaded with slapadd before the start; build it with the ldif_ helpers
};

class Slapd {
public:
    static constexpr const char *kSuffix = "dc=example,dc=org";
    static constexpr const char *kRootDn = "cn=admin,dc=example,dc=org";

    explicit Slapd(SlapdOptions options = {});  // returns once slapd accepts connections

    std::uint16_t port() const { return port_; }
    // A paused server still accepts connections (the kernel does) but answers nothing.
    void pause() const { daemon_.signal(SIGSTOP); }
    void resume() const { daemon_.signal(SIGCONT); }

private:
    TempDir dir_;  // first: removed after the server has stopped
    std::uint16_t port_ = 0;
    Daemon daemon_;
};

// The suffix entry and ou=people under it.
std::string ldif_base();
// An inetOrgPerson cn=<cn>,ou=people,<suffix> with the uid and fax numbers given; cn defaults
// to the uid.
std::string ldif_person(const std::string &uid, const std::vector<std::string> &fax_numbers,
                        const std::string &cn = "");
std::string ldif_person_without_uid(const std::string &cn,
                                    const std::vector<std::string> &fax_numbers);

}  // namespace testsupport
