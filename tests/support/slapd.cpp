// slapd in the foreground as our child: a detached one reports start-up errors to syslog alone.
#include "slapd.hpp"

#include <fstream>
#include <sstream>

namespace testsupport {

const Environment kToolEnv{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
const std::string kPeopleDn = std::string("ou=people,") + Slapd::kSuffix;

Slapd::Slapd(SlapdOptions options) : dir_("dialcred-slapd")
{
    std::filesystem::create_directory(dir_ / "db");
    // The stock schema gives the fax number no equality rule: give it the telephone number's.
    std::string schema =
        (std::ostringstream() << std::ifstream("/etc/ldap/schema/core.schema").rdbuf()).str();
    const std::string fax = "SYNTAX 1.3.6.1.4.1.1466.115.121.1.22 ",
                      phone = "EQUALITY telephoneNumberMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.50 ";
    const std::size_t at = schema.find(fax, schema.find("'facsimileTelephoneNumber'"));
    if (at == std::string::npos)
        throw std::runtime_error("core.schema: no facsimileTelephoneNumber to mend");
    dir_.write_file("core.schema", schema.replace(at, fax.size(), phone));
    std::string text =
        "include @/core.schema\ninclude /etc/ldap/schema/cosine.schema\n"
        "include /etc/ldap/schema/inetorgperson.schema\npidfile @/slapd.pid\n"
        "modulepath /usr/lib/ldap\nmoduleload back_mdb\ndatabase mdb\n"
        "maxsize 16777216\ndirectory @/db\nsuffix \"";
    text += kSuffix + ("\"\nrootdn \"" + std::string(kRootDn)) + "\"\nrootpw secret\n";
    const std::string d = dir_.path();
    for (std::size_t i = 0; (i = text.find('@', i)) != std::string::npos; i += d.size())
        text.replace(i, 1, d);
    const std::string conf = dir_.write_file("slapd.conf", text);
    if (!options.ldif.empty()) {
        const std::string ldif = dir_.write_file("data.ldif", options.ldif).string();
        RunResult add = run_command({"slapadd", "-q", "-f", conf, "-l", ldif}, kToolEnv, 30);
        if (add.exit_status != 0)
            throw std::runtime_error("slapadd failed:\n" + add.out + add.err);
    }
    daemon_ = start_server(
        "slapd",
        [&] {
            port_ = free_tcp_port();
            const std::string url = "ldap://127.0.0.1:" + std::to_string(port_) + "/";
            return Daemon({"slapd", "-d", "none", "-f", conf, "-h", url}, kToolEnv,
                          dir_ / "slapd.log");
        },
        [&] { return greets(port_); });
}

std::string ldif_base()
{
    return std::string("dn: ") + Slapd::kSuffix +
           "\nobjectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n"
           "dn: " +
           kPeopleDn + "\nobjectClass: organizationalUnit\nou: people\n\n";
}

std::string ldif_person(const std::string &uid, const std::vector<std::string> &fax_numbers,
                        const std::string &cn)
{
    std::string entry = ldif_person_without_uid(cn.empty() ? uid : cn, fax_numbers);
    return entry.insert(entry.size() - 1, "uid: " + uid + "\n");
}

std::string ldif_person_without_uid(const std::string &cn,
                                    const std::vector<std::string> &fax_numbers)
{
    std::string out = "dn: cn=" + cn + "," + kPeopleDn + "\nobjectClass: inetOrgPerson\ncn: " + cn +
                      "\nsn: Tester\n";
    for (const auto &fax : fax_numbers)
        out += "facsimileTelephoneNumber: " + fax + "\n";
    return out + "\n";
}

}  // namespace testsupport
