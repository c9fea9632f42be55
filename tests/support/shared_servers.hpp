// The command's live tests: dialcred run as a separate process, the way a host runs it, against
// the development servers of one test and one directory (slapd) and one mail server (dovecot,
// with TLS) that all tests of a process share: starting them per test would cost a second each.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "devservers.hpp"
#include "dovecot.hpp"
#include "pinpw2t.h"
#include "process.hpp"
#include "slapd.hpp"

namespace e2e {

using testsupport::RunResult;

const std::string kUsage = "Sie m\xfcssen alle drei Felder ausf\xfcllen.\n";
const std::string kNoRoute = "Die Durchwahl ist unbekannt (route).\n\n";
const std::string kUnknownLdap = "Die Durchwahl ist unbekannt (LDAP).\n";
const std::string kWrongPassword = "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n\n";
const std::string kBlocked = "Der Zugriff ist blockiert, versuchen Sie es sp\xe4ter.\n";
const std::string kPassword = "Geheim42", kPassword38(38, 'p');  // the longest that fits a code
const std::string kLong = "12345678901234567890";  // 20 digits, routed on its first 10
inline std::string subscriber(int i) { return std::to_string(5000 + i); }  // i < 50

// Started at the first call, from the test's own thread. The directory: mmueller (fax 4711), an
// entry without uid (4712), anna13 and then berta13 (both 4713), a uid of 320 characters (4714),
// lang38 (4716), lang (kLong), user50NN (50NN). The mail server: lang38 with kPassword38,
// user50NN with Pw50NN, mmueller, anna13 and lang with kPassword.
inline testsupport::Slapd &slapd()
{
    static testsupport::Slapd directory([] {
        using namespace testsupport;
        std::string ldif = ldif_base() + ldif_person("mmueller", {"4711"}) +
                           ldif_person_without_uid("ohne uid", {"4712"}) +
                           ldif_person("anna13", {"4713"}) + ldif_person("berta13", {"4713"}) +
                           ldif_person(std::string(320, 'u'), {"4714"}, "longuid") +
                           ldif_person("lang38", {"4716"}) + ldif_person("lang", {kLong});
        for (int i = 0; i < 50; ++i)
            ldif += ldif_person("user" + subscriber(i), {subscriber(i)});
        return SlapdOptions{ldif};
    }());
    return directory;
}
inline testsupport::Dovecot &dovecot()
{
    static testsupport::Dovecot server([] {
        testsupport::DovecotOptions mail{{{"mmueller", kPassword},
                                          {"anna13", kPassword},
                                          {"lang", kPassword},
                                          {"lang38", kPassword38}},
                                         "",
                                         true};
        for (int i = 0; i < 50; ++i)
            mail.users["user" + subscriber(i)] = "Pw" + subscriber(i);
        return mail;
    }());
    return server;
}

// The alpha user an extension routes to: u47NN, ulong (kLong), v50NN.
inline std::string user_of(const std::string &extension)
{
    return extension.size() > 4 ? "ulong" : (extension[0] == '5' ? "v" : "u") + extension;
}

// Routes 4711 to 4716, 4799 (to the host "bad..host"), kLong and 5000 to 5049, PINLENMIN 4,
// every user's directory and mail settings pointing at the shared servers, and extra over those.
inline DevServers servers(const Usrconf &extra = {}, bool old_alpha = false)
{
    std::vector<Route> routes = {{"4799", "bad..host", "u4799"}};
    std::vector<std::string> numbers = {"4711", "4712", "4713", "4714", "4715", "4716", kLong};
    for (int i = 0; i < 50; ++i)
        numbers.push_back(subscriber(i));
    Usrconf usrconf = extra;
    for (const std::string &n : numbers) {
        const std::string user = user_of(n);
        routes.push_back({n.substr(0, 10), "127.0.0.1", user});
        usrconf.insert({{{user, "GD_IMH"}, "127.0.0.1:" + std::to_string(dovecot().imap_port())},
                        {{user, "GD_LDH"}, "127.0.0.1"},
                        {{user, "GD_LDPRT"}, std::to_string(slapd().port())},
                        {{user, "GD_LDBAS"}, testsupport::Slapd::kSuffix}});
    }
    return DevServers(routes, {{"PINLENMIN", "4"}}, usrconf, old_alpha);
}

// argv is a prefix, such as valgrind; env is added to the servers' environment.
inline RunResult dialcred(const DevServers &s, const std::vector<std::string> &args,
                          const std::string &input = "", testsupport::Environment env = {},
                          std::vector<std::string> argv = {})
{
    argv.push_back(DIALCRED_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    env.merge(s.environment());
    return testsupport::run_command(argv, env, 120, input);
}

// The run ended by itself (not timed out, no signal) with this status and exactly these bytes.
inline void expect_result(const RunResult &r, int status, const std::string &out,
                          const std::string &err = "")
{
    EXPECT_EQ(std::tie(r.timed_out, r.term_signal, r.exit_status, r.out, r.err),
              std::make_tuple(false, 0, status, out, err));
}

// The password that a keypad code gives back with the PIN, or a text that says it does not.
inline std::string decoded_password(const std::string &pin, const std::string &code)
{
    char pw[256];
    return t2pw(pin.c_str(), code.c_str(), pw, sizeof pw) == 0 ? pw : "<no password: " + code + ">";
}

}  // namespace e2e
