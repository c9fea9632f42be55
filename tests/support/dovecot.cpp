// dovecot runs in the foreground (-F) as our own child, so that its start-up errors land in our
// log file and its exit is seen at once. Mail is stored as the dovecot system user, which owns
// the mail folder; the passwd-file and the folder above it stay world-readable for the auth
// process.
#include "dovecot.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "ports.hpp"

namespace testsupport {

namespace {

const Environment kServerEnv{{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
constexpr double kStartSeconds = 10.0;
constexpr int kStartAttempts = 3;

// Printable ASCII without ':' goes into the passwd-file as it is; anything else hex-encoded,
// which the file format can carry and dovecot decodes back to the same bytes.
std::string password_field(const std::string &password) {
    bool plain = true;
    for (unsigned char c : password) {
        if (c < 0x21 || c > 0x7e || c == ':') {
            plain = false;
        }
    }
    if (plain) {
        return "{PLAIN}" + password;
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex = "{PLAIN.HEX}";
    for (unsigned char c : password) {
        hex += {digits[c >> 4], digits[c & 15]};
    }
    return hex;
}

std::string passwd_file(const std::map<std::string, std::string> &users) {
    std::string out;
    for (const auto &[user, password] : users) {
        if (user.empty() || user.find_first_of(std::string(":\r\n\0", 4)) != std::string::npos) {
            throw std::invalid_argument("dovecot user name not representable: " + user);
        }
        out += user + ":" + password_field(password) + "::::::\n";
    }
    return out;
}

// The master binds the ports itself, so they accept connections before any login process
// exists; and a master told to stop while its children are still starting waits 5 s for them.
// Ready therefore means: a login process has sent its greeting.
bool greets(std::uint16_t port, const std::string &greeting) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    std::string got;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        pollfd p{fd, POLLIN, 0};
        char buf[256];
        ssize_t n;
        if (poll(&p, 1, 1000) > 0 && (n = read(fd, buf, sizeof buf)) > 0) {
            got.assign(buf, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return got.rfind(greeting, 0) == 0;
}

bool serving(const Daemon &daemon, std::uint16_t imap_port, std::uint16_t pop3_port) {
    auto limit = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(kStartSeconds));
    while (daemon.running() && std::chrono::steady_clock::now() < limit) {
        if (greets(imap_port, "* OK") && greets(pop3_port, "+OK")) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::string listener(const char *service, const char *name, std::uint16_t port,
                     const char *secure_name, std::uint16_t secure_port) {
    return std::string("service ") + service + " {\n  inet_listener " + name +
           " {\n    address = 127.0.0.1\n    port = " + std::to_string(port) +
           "\n  }\n  inet_listener " + secure_name +
           " {\n    address = 127.0.0.1\n    port = " + std::to_string(secure_port) +
           "\n  }\n"
           "  service_count = 0\n  process_min_avail = 1\n}\n";
}

// A self-signed certificate for "localhost" (CN and DNS name), valid two days.
void make_certificate(const TempDir &dir) {
    RunResult r = run_command(
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", (dir / "key.pem").string(), "-out", (dir / "cert.pem").string(),
         "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"},
        kServerEnv, 30);
    if (r.exit_status != 0) {
        throw std::runtime_error("openssl could not make a certificate: " + r.err);
    }
}

}  // namespace

Dovecot::Dovecot(DovecotOptions options) : dir_("dialcred-dovecot") {
    const passwd *pw = getpwnam("dovecot");
    if (pw == nullptr) {
        throw std::runtime_error("no 'dovecot' system user");
    }
    const uid_t uid = uid_ = pw->pw_uid;
    const gid_t gid = gid_ = pw->pw_gid;
    const std::string d = dir_.path().string();
    std::filesystem::create_directory(dir_ / "run");
    std::filesystem::create_directory(dir_ / "state");
    std::filesystem::create_directory(dir_ / "mail");
    if (chown((d + "/mail").c_str(), uid, gid) != 0) {
        throw std::system_error(errno, std::generic_category(), "chown " + d + "/mail");
    }
    std::filesystem::permissions(dir_ / "mail", std::filesystem::perms(0700));
    std::string users_file = dir_.write_file("users", passwd_file(options.users)).string();
    std::string log_file = (dir_ / "dovecot.log").string();
    if (options.tls) {
        make_certificate(dir_);
    }

    for (int attempt = 1;; ++attempt) {
        imap_port_ = free_tcp_port();
        do {
            pop3_port_ = free_tcp_port();
        } while (pop3_port_ == imap_port_);
        imaps_port_ = 0;
        while (options.tls && (imaps_port_ == 0 || imaps_port_ == imap_port_ ||
                               imaps_port_ == pop3_port_)) {
            imaps_port_ = free_tcp_port();
        }
        std::string conf;
        conf += "base_dir = " + d + "/run\n";
        conf += "state_dir = " + d + "/state\n";
        conf += "log_path = " + log_file + "\n";
        conf += "protocols = imap pop3\n";
        conf += "listen = 127.0.0.1\n";
        if (options.tls) {
            conf += "ssl = yes\nssl_cert = <" + d + "/cert.pem\nssl_key = <" + d + "/key.pem\n";
        } else {
            conf += "ssl = no\n";
        }
        conf += "disable_plaintext_auth = no\n";
        conf += "auth_mechanisms = plain login cram-md5\n";
        conf += "auth_verbose = yes\n";
        // Without these two, each wrong password from 127.0.0.1 delays the next answer more
        // (anvil's auth penalty, up to 15 s) on top of a 2 s failure delay.
        conf += "auth_failure_delay = 0\n";
        conf += "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
        conf += "first_valid_uid = " + std::to_string(uid) + "\n";
        conf += "first_valid_gid = " + std::to_string(gid) + "\n";
        conf += "mail_location = maildir:" + d + "/mail/%u\n";
        conf += "passdb {\n  driver = passwd-file\n  args = " + users_file + "\n}\n";
        conf += "userdb {\n  driver = static\n  args = uid=" + std::to_string(uid) +
                " gid=" + std::to_string(gid) + " home=" + d + "/mail/%u\n}\n";
        // One long-lived login process per protocol, ready before the first connection.
        conf += listener("imap-login", "imap", imap_port_, "imaps", imaps_port_);
        conf += listener("pop3-login", "pop3", pop3_port_, "pop3s", 0);
        conf += options.extra_config + "\n";
        std::string conf_file = dir_.write_file("dovecot.conf", conf).string();

        daemon_ = Daemon({"dovecot", "-F", "-c", conf_file}, kServerEnv, log_file);
        if (serving(daemon_, imap_port_, pop3_port_)) {
            return;
        }
        daemon_.stop();
        std::string log = file_tail(log_file);
        // Another process may have taken a port between our probe and dovecot's bind.
        if (attempt == kStartAttempts || log.find("Address already in use") == std::string::npos) {
            throw std::runtime_error("dovecot did not start (imap " + std::to_string(imap_port_) +
                                     ", pop3 " + std::to_string(pop3_port_) + "); log:\n" + log);
        }
    }
}

std::filesystem::path Dovecot::deliver(const std::string &user, const std::string &message) const {
    static int serial = 0;
    const std::filesystem::path home = dir_ / "mail" / user;
    for (const std::filesystem::path &p : {home, home / "new", home / "cur", home / "tmp"}) {
        std::filesystem::create_directories(p);
        if (chown(p.c_str(), uid_, gid_) != 0) {
            throw std::system_error(errno, std::generic_category(), "chown " + p.string());
        }
    }
    const std::string name = std::to_string(std::time(nullptr)) + ".M" + std::to_string(++serial) +
                             "P" + std::to_string(getpid()) + ".dialcredtest";
    const std::filesystem::path file = dir_.write_file("mail/" + user + "/new/" + name, message);
    if (chown(file.c_str(), uid_, gid_) != 0) {
        throw std::system_error(errno, std::generic_category(), "chown " + file.string());
    }
    return file;
}

}  // namespace testsupport
