// dovecot in the foreground as our child: its start-up errors land in our log, its exit is seen.
#include "dovecot.hpp"

#include <unistd.h>

#include <ctime>

namespace testsupport {

const Environment kServerEnv{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};

// One long-lived login process per protocol, ready before the first connection.
static std::string service(const std::string &name, std::uint16_t port, std::uint16_t secure_port)
{
    std::string out = "service " + name + "-login {\n service_count = 0\n process_min_avail = 1\n";
    for (auto [suffix, p] : {std::pair{"", port}, std::pair{"s", secure_port}})
        out += " inet_listener " + name + suffix + " {\n  port = " + std::to_string(p) + "\n }\n";
    return out + "}\n";
}

Dovecot::Dovecot(DovecotOptions options) : dir_("dialcred-dovecot")
{
    for (const char *sub : {"run", "state", "mail"})
        std::filesystem::create_directory(dir_ / sub);
    std::filesystem::permissions(dir_ / "mail", std::filesystem::perms::all);
    std::string users;
    for (const auto &[user, password] : options.users)
        users += user + ":{PLAIN}" + password + "::::::\n";
    dir_.write_file("users", users);
    // auth_failure_delay and the anvil penalty would add 2 s, and up to 15 s, per wrong password.
    std::string conf =
        "base_dir = @/run\nstate_dir = @/state\nlog_path = @/dovecot.log\n"
        "protocols = imap pop3\nlisten = 127.0.0.1\ndisable_plaintext_auth = no\n"
        "auth_mechanisms = plain login cram-md5\nauth_verbose = yes\n"
        "auth_failure_delay = 0\nservice anvil {\n unix_listener anvil-auth-penalty"
        " {\n  mode = 0\n }\n}\nfirst_valid_uid = 1\nmail_location = maildir:@/mail/%u\n"
        "passdb {\n driver = passwd-file\n args = @/users\n}\nuserdb {\n"
        " driver = static\n args = uid=dovecot gid=dovecot home=@/mail/%u\n}\n";
    conf += options.tls ? "ssl = yes\nssl_cert = <@/cert.pem\nssl_key = <@/key.pem\n"
                        : "ssl = no\n";
    const std::string d = dir_.path();
    for (std::size_t at = 0; (at = conf.find('@', at)) != std::string::npos; at += d.size())
        conf.replace(at, 1, d);
    conf += options.extra_config + "\n";
    if (options.tls && run_command({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                                    d + "/key.pem", "-out", d + "/cert.pem", "-days", "2", "-subj",
                                    "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"},
                                   kServerEnv, 30)
                               .exit_status != 0)
        throw std::runtime_error("openssl could not make a certificate");
    daemon_ = start_server(
        "dovecot",
        [&] {
            do {  // three distinct ports: free ones a moment ago may repeat
                imap_port_ = free_tcp_port();
                pop3_port_ = free_tcp_port();
                imaps_port_ = options.tls ? free_tcp_port() : 0;
            } while (imap_port_ == pop3_port_ || imaps_port_ == imap_port_ ||
                     imaps_port_ == pop3_port_);
            const auto file = dir_.write_file(
                "dovecot.conf",
                conf + service("imap", imap_port_, imaps_port_) + service("pop3", pop3_port_, 0));
            return Daemon({"dovecot", "-F", "-c", file}, kServerEnv, dir_ / "dovecot.log");
        },
        // The master binds the ports before any login process exists, and a master stopped
        // while its children start waits 5 s for them: ready is a login process's greeting.
        [&] { return greets(imap_port_, "* OK") && greets(pop3_port_, "+OK"); });
}

std::filesystem::path Dovecot::deliver(const std::string &user, const std::string &message) const
{
    static int serial = 0;
    for (const char *sub : {"", "/new", "/cur", "/tmp"}) {
        std::filesystem::create_directories(dir_ / ("mail/" + user + sub));
        std::filesystem::permissions(dir_ / ("mail/" + user + sub), std::filesystem::perms::all);
    }
    return dir_.write_file("mail/" + user + "/new/" + std::to_string(std::time(nullptr)) + ".M" +
                               std::to_string(++serial) + "P" + std::to_string(getpid()) + ".test",
                           message);
}

}  // namespace testsupport
