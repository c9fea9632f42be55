// slapd runs in the foreground (-d none) as our own child: a detached slapd reports startup
// errors only to syslog, which is absent here, and its pid would be known only from a pidfile.
#include "slapd.hpp"

#include <csignal>
#include <stdexcept>

#include "ports.hpp"

namespace testsupport {

namespace {

const char *const kSchemaDir = "/etc/ldap/schema";
const char *const kModuleDir = "/usr/lib/ldap";
const Environment kToolEnv{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
constexpr double kStartSeconds = 10.0;
constexpr int kStartAttempts = 3;

// The stock core schema gives the fax number no equality rule (facsimile syntax); give it the
// telephone-number one so that "facsimileTelephoneNumber=1234" can match.
std::string core_schema_with_fax_equality() {
    std::string schema = read_file(std::string(kSchemaDir) + "/core.schema");
    const std::string name = "NAME ( 'facsimileTelephoneNumber' 'fax' )";
    const std::string old_syntax = "SYNTAX 1.3.6.1.4.1.1466.115.121.1.22 )";
    std::size_t at = schema.find(name);
    std::size_t syntax = at == std::string::npos ? at : schema.find(old_syntax, at);
    if (syntax == std::string::npos) {
        throw std::runtime_error("core.schema: facsimileTelephoneNumber definition not found");
    }
    schema.replace(syntax, old_syntax.size(),
                   "EQUALITY telephoneNumberMatch\n\tSUBSTR telephoneNumberSubstringsMatch\n"
                   "\tSYNTAX 1.3.6.1.4.1.1466.115.121.1.50 )");
    return schema;
}

std::string base64(const std::string &in) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (unsigned char c : in) {
        bits = ((bits << 8) | c) & 0xffffu;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += table[(bits >> count) & 63];
        }
    }
    if (count > 0) {
        out += table[(bits << (6 - count)) & 63];
    }
    while (out.size() % 4 != 0) {
        out += '=';
    }
    return out;
}

// LDIF SAFE-STRING, and no trailing space (which some readers strip).
bool ldif_safe(const std::string &v) {
    if (v.empty()) {
        return true;
    }
    if (v.front() == ' ' || v.front() == ':' || v.front() == '<' || v.back() == ' ') {
        return false;
    }
    for (unsigned char c : v) {
        if (c == 0 || c == '\n' || c == '\r' || c >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string ldif_line(const std::string &name, const std::string &value) {
    return ldif_safe(value) ? name + ": " + value + "\n" : name + ":: " + base64(value) + "\n";
}

std::string person(const std::string *uid, const std::string &cn,
                   const std::vector<std::string> &fax_numbers) {
    LdifAttributes attrs{{"objectClass", "inetOrgPerson"}, {"cn", cn}, {"sn", "Tester"}};
    if (uid != nullptr) {
        attrs.emplace_back("uid", *uid);
    }
    for (const auto &fax : fax_numbers) {
        attrs.emplace_back("facsimileTelephoneNumber", fax);
    }
    return ldif_entry("cn=" + escape_dn_value(cn) + "," + Slapd::kPeopleDn, attrs);
}

}  // namespace

Slapd::Slapd(SlapdOptions options) : dir_("dialcred-slapd") {
    dir_.write_file("core.schema", core_schema_with_fax_equality());
    std::filesystem::create_directory(dir_ / "db");
    const std::string d = dir_.path().string();
    std::string conf = "include " + d + "/core.schema\n";
    conf += std::string("include ") + kSchemaDir + "/cosine.schema\n";
    conf += std::string("include ") + kSchemaDir + "/inetorgperson.schema\n";
    conf += "pidfile " + d + "/slapd.pid\n";
    conf += "argsfile " + d + "/slapd.args\n";
    conf += std::string("modulepath ") + kModuleDir + "\n";
    conf += "moduleload back_mdb\n";
    if (options.default_search_base) {
        conf += std::string("defaultsearchbase \"") + kSuffix + "\"\n";
    }
    conf += "database mdb\n";
    conf += "maxsize 16777216\n";
    conf += std::string("suffix \"") + kSuffix + "\"\n";
    conf += std::string("rootdn \"") + kRootDn + "\"\n";
    conf += std::string("rootpw ") + kRootPassword + "\n";
    conf += "directory " + d + "/db\n";
    conf += options.extra_config + "\n";
    std::string conf_file = dir_.write_file("slapd.conf", conf).string();
    std::string ldif_file = dir_.write_file("data.ldif", options.ldif).string();

    if (!options.ldif.empty()) {
        RunResult add =
            run_command({"slapadd", "-q", "-f", conf_file, "-l", ldif_file}, kToolEnv, 30);
        if (add.exit_status != 0) {
            throw std::runtime_error("slapadd failed (status " + std::to_string(add.exit_status) +
                                     "):\n" + add.out + add.err);
        }
    }

    std::string log_file = (dir_ / "slapd.log").string();
    for (int attempt = 1;; ++attempt) {
        port_ = free_tcp_port();
        daemon_ =
            Daemon({"slapd", "-d", "none", "-f", conf_file, "-h", url() + "/"}, kToolEnv, log_file);
        if (daemon_.wait_for_port(port_, kStartSeconds)) {
            return;
        }
        daemon_.stop();
        std::string log = file_tail(log_file);
        // Another process may have taken the port between our probe and slapd's bind.
        if (attempt == kStartAttempts || log.find("Address already in use") == std::string::npos) {
            throw std::runtime_error("slapd did not start on port " + std::to_string(port_) +
                                     "; log:\n" + log);
        }
    }
}

std::string Slapd::url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }

std::string escape_dn_value(const std::string &value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        bool edge_space = c == ' ' && (i == 0 || i + 1 == value.size());
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        if (edge_space || (c == '#' && i == 0) || c == ',' || c == '+' || c == '"' || c == '\\' ||
            c == '<' || c == '>' || c == ';' || c == '=') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string ldif_entry(const std::string &dn, const LdifAttributes &attributes) {
    std::string out = ldif_line("dn", dn);
    for (const auto &[name, value] : attributes) {
        out += ldif_line(name, value);
    }
    return out + "\n";
}

std::string ldif_base() {
    return ldif_entry(Slapd::kSuffix, {{"objectClass", "dcObject"},
                                       {"objectClass", "organization"},
                                       {"dc", "example"},
                                       {"o", "Example"}}) +
           ldif_entry(Slapd::kPeopleDn, {{"objectClass", "organizationalUnit"}, {"ou", "people"}});
}

std::string ldif_person(const std::string &uid, const std::vector<std::string> &fax_numbers,
                        const std::string &cn) {
    return person(&uid, cn.empty() ? uid : cn, fax_numbers);
}

std::string ldif_person_without_uid(const std::string &cn,
                                    const std::vector<std::string> &fax_numbers) {
    return person(nullptr, cn, fax_numbers);
}

}  // namespace testsupport
