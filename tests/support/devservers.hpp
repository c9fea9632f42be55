// The development omega and alpha servers of one test, with their files in a private folder.
#pragma once

#include "process.hpp"

namespace e2e {

// The one program offset allocator of the suite: each test process owns the 128 offsets from it.
long test_offset();
// Points this process's client libraries at them, SIGPIPE ignored; before the first call.
void use_devservers_in_this_process();

struct Route {
    std::string number, host = "127.0.0.1", user, id = "";
};

using Usrconf = std::map<std::pair<std::string, std::string>, std::string>;  // user, key

class DevServers {
public:
    // old_alpha makes alphad an old-generation server without procedures 143 to 145.
    DevServers(const std::vector<Route> &routes = {},
               const std::map<std::string, std::string> &config = {}, const Usrconf &usrconf = {},
               bool old_alpha = false);

    // Replaces a server's directives, one a line (see devservers/devserver.hpp).
    void omega_control(const std::string &lines) const { dir_.write_file("omega.control", lines); }
    void alpha_control(const std::string &lines) const { dir_.write_file("alpha.control", lines); }
    Usrconf store() const;  // as the alpha server last saved it
    // The lines so far; the alpha server notes each request as "rpc <procedure> <hex bytes>".
    std::vector<std::string> event_log() const;
    void clear_event_log() const { dir_.write_file("event.log", ""); }
    testsupport::Environment environment() const;  // what a host gives its programs

    testsupport::Daemon &omega() { return omega_; }
    testsupport::Daemon &alpha() { return alpha_; }
    const testsupport::TempDir &dir() const { return dir_; }
    void restart_alpha();  // on the same store

private:
    testsupport::TempDir dir_;  // first: removed after the servers have stopped
    bool old_alpha_;
    testsupport::Daemon omega_, alpha_;
};

}  // namespace e2e
