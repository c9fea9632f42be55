// dovecot runs in the foreground (-F) as our own child, so that its start-up errors land in our
// log file and its exit is seen at once. Mail is stored as the dovecot system user, which owns
// the mail folder; the passwd-file and the folder above it stay world-readable for the auth
// process.
#include "dovecot.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>
#include <system_error>

namespace testsupport {

namespace {

const Environment kServerEnv{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};

void chown_to(const std::filesystem::path &p, uid_t uid, gid_t gid)
{
    if (chown(p.c_str(), uid, gid) != 0)
        throw std::system_error(errno, std::generic_category(), "chown " + p.string());
}

// One long-lived login process per protocol, ready before the first connection.
std::string service(const std::string &name, std::uint16_t port, std::uint16_t secure_port)
{
    std::string out = "service " + name + "-login {\n  service_count = 0\n"
                      "  process_min_avail = 1\n";
    for (auto [suffix, p] : {std::pair{"", port}, std::pair{"s", secure_port}})
        out += "  inet_listener " + name + suffix + " {\n    address = 127.0.0.1\n    port = " +
               std::to_string(p) + "\n  }\n";
    return out + "}\n";
}

}  // namespace

Dovecot::Dovecot(DovecotOptions options) : dir_("dialcred-dovecot")
{
    const passwd *pw = getpwnam("dovecot");
    if (pw == nullptr)
        throw std::runtime_error("no 'dovecot' system user");
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    const std::string d = dir_.path(), uid = std::to_string(uid_), gid = std::to_string(gid_);
    for (const char *sub : {"run", "state", "mail"})
        std::filesystem::create_directory(dir_ / sub);
    chown_to(dir_ / "mail", uid_, gid_);
    std::filesystem::permissions(dir_ / "mail", std::filesystem::perms(0700));
    std::string users;
    for (const auto &[user, password] : options.users)
        users += user + ":{PLAIN}" + password + "::::::\n";
    dir_.write_file("users", users);
    std::string conf =
        "base_dir = " + d + "/run\nstate_dir = " + d + "/state\nlog_path = " + d +
        "/dovecot.log\nprotocols = imap pop3\nlisten = 127.0.0.1\n"
        "disable_plaintext_auth = no\nauth_mechanisms = plain login cram-md5\n"
        "auth_verbose = yes\n"
        // Without these two, each wrong password from 127.0.0.1 delays the next answer more
        // (anvil's auth penalty, up to 15 s) on top of a 2 s failure delay.
        "auth_failure_delay = 0\n"
        "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n"
        "first_valid_uid = " + uid + "\nfirst_valid_gid = " + gid + "\nmail_location = maildir:" +
        d + "/mail/%u\npassdb {\n  driver = passwd-file\n  args = " + d + "/users\n}\n"
        "userdb {\n  driver = static\n  args = uid=" + uid + " gid=" + gid + " home=" + d +
        "/mail/%u\n}\n" + options.extra_config + "\n";
    if (!options.tls) {
        conf += "ssl = no\n";
    } else {
        conf += "ssl = yes\nssl_cert = <" + d + "/cert.pem\nssl_key = <" + d + "/key.pem\n";
        RunResult r = run_command(
            {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", d + "/key.pem", "-out", d + "/cert.pem", "-days", "2", "-subj",
             "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"},
            kServerEnv, 30);
        if (r.exit_status != 0)
            throw std::runtime_error("openssl could not make a certificate: " + r.err);
    }
    daemon_ = start_server(
        "dovecot",
        [&] {
            // Three distinct ports (the free ones a moment ago may repeat).
            do {
                imap_port_ = free_tcp_port();
                pop3_port_ = free_tcp_port();
                imaps_port_ = options.tls ? free_tcp_port() : 0;
            } while (imap_port_ == pop3_port_ || imaps_port_ == imap_port_ ||
                     imaps_port_ == pop3_port_);
            const std::string file = dir_.write_file(
                "dovecot.conf", conf + service("imap", imap_port_, imaps_port_) +
                                    service("pop3", pop3_port_, 0)).string();
            return Daemon({"dovecot", "-F", "-c", file}, kServerEnv, dir_ / "dovecot.log");
        },
        // The master binds the ports itself, before any login process exists, and a master
        // stopped while its children are still starting waits 5 s for them: ready means that a
        // login process has sent its greeting.
        [&] { return greets(imap_port_, "* OK") && greets(pop3_port_, "+OK"); });
}

std::filesystem::path Dovecot::deliver(const std::string &user, const std::string &message) const
{
    static int serial = 0;
    const std::filesystem::path home = dir_ / "mail" / user;
    for (const std::filesystem::path &p : {home, home / "new", home / "cur", home / "tmp"}) {
        std::filesystem::create_directories(p);
        chown_to(p, uid_, gid_);
    }
    const std::string name = std::to_string(std::time(nullptr)) + ".M" + std::to_string(++serial) +
                             "P" + std::to_string(getpid()) + ".dialcredtest";
    const std::filesystem::path file = dir_.write_file("mail/" + user + "/new/" + name, message);
    chown_to(file, uid_, gid_);
    return file;
}

}  // namespace testsupport
