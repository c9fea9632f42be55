// One private directory (slapd) and one private mail server (dovecot) for
// every test of a process: starting them for each test would cost about a
// second apiece. Register it once per test binary with
//   ::testing::AddGlobalTestEnvironment(new e2e::DirectoryAndMail(ldif, mail))
// and reach the servers through e2e::slapd() and e2e::dovecot().
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "dovecot.hpp"
#include "process.hpp"
#include "slapd.hpp"

namespace e2e {

class DirectoryAndMail : public ::testing::Environment {
public:
    // Both are called at set-up time, once.
    DirectoryAndMail(std::function<std::string()> ldif,
                     std::function<testsupport::DovecotOptions()> mail);
    void SetUp() override;
    void TearDown() override;

private:
    std::function<std::string()> ldif_;
    std::function<testsupport::DovecotOptions()> mail_;
};

testsupport::Slapd &slapd();
testsupport::Dovecot &dovecot();

// The password that a keypad code gives back with the PIN, or a text that
// says it does not decode.
std::string decoded_password(const std::string &pin, const std::string &code);

// A run of dialcred that refused: it ended by itself with status 1 and wrote
// exactly these bytes.
inline void expect_refused(const testsupport::RunResult &r, const std::string &out,
                           const std::string &err = "")
{
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
}

}  // namespace e2e
