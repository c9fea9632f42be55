// The project's development omega and alpha servers, started for one test with a fresh data
// file, a control file for behaviour directives and the event log in a private folder, under
// a program offset of this test process, so that test binaries may run side by side.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "process.hpp"

namespace e2e {

// The offset every server and client of this process uses: the one offset allocator of the
// suite. Each process owns the 128 offsets from it on.
long test_offset();

// Points the client libraries of this process at the development servers (loopback,
// test_offset()) and ignores SIGPIPE; call it before the first library call.
void use_devservers_in_this_process();

struct Route {
    std::string number;
    std::string host = "127.0.0.1";
    std::string user;
    std::string id = "";
    std::string qualifier = "";
};

using Usrconf = std::map<std::pair<std::string, std::string>, std::string>;  // user, key

class DevServers {
public:
    // omegad with the routes and configuration given, alphad with the usrconf entries given.
    // old_alpha makes alphad an old-generation server without procedures 143 to 145.
    DevServers(const std::vector<Route> &routes = {},
               const std::map<std::string, std::string> &config = {},
               const Usrconf &usrconf = {}, bool old_alpha = false);

    // Replaces the directives of a server (one a line; see devservers/devserver.hpp).
    void omega_control(const std::string &lines) const { dir_.write_file("omega.control", lines); }
    void alpha_control(const std::string &lines) const { dir_.write_file("alpha.control", lines); }

    // The usrconf store as the alpha server last saved it.
    Usrconf store() const;
    // The event log lines so far; the alpha server also notes each request there as
    // "rpc <procedure> <hex bytes>".
    std::vector<std::string> event_log() const;
    void clear_event_log() const { dir_.write_file("event.log", ""); }

    // The environment a host of the system gives its programs.
    testsupport::Environment environment() const;

    testsupport::Daemon &omega() { return omega_; }
    testsupport::Daemon &alpha() { return alpha_; }
    const testsupport::TempDir &dir() const { return dir_; }

    // Restarts the alpha server on the same store (e.g. after it was killed).
    void restart_alpha();

private:
    testsupport::TempDir dir_;  // declared first: removed after the servers have stopped
    bool old_alpha_;
    testsupport::Daemon omega_;
    testsupport::Daemon alpha_;
};

}  // namespace e2e
