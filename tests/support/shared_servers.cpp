// DirectoryAndMail: see shared_servers.hpp.
#include "shared_servers.hpp"

#include <stdexcept>

#include "pinpw2t.h"

namespace e2e {

namespace {
std::unique_ptr<testsupport::Slapd> g_slapd;
std::unique_ptr<testsupport::Dovecot> g_dovecot;
}  // namespace

DirectoryAndMail::DirectoryAndMail(std::function<std::string()> ldif,
                                   std::function<testsupport::DovecotOptions()> mail)
    : ldif_(std::move(ldif)), mail_(std::move(mail))
{
}

void DirectoryAndMail::SetUp()
{
    g_slapd = std::make_unique<testsupport::Slapd>(testsupport::SlapdOptions{ldif_()});
    g_dovecot = std::make_unique<testsupport::Dovecot>(mail_());
}

void DirectoryAndMail::TearDown()
{
    g_dovecot.reset();
    g_slapd.reset();
}

testsupport::Slapd &slapd()
{
    if (!g_slapd)
        throw std::logic_error("no DirectoryAndMail environment is set up");
    return *g_slapd;
}

testsupport::Dovecot &dovecot()
{
    if (!g_dovecot)
        throw std::logic_error("no DirectoryAndMail environment is set up");
    return *g_dovecot;
}

std::string decoded_password(const std::string &pin, const std::string &code)
{
    char pw[256];
    if (t2pw(pin.c_str(), code.c_str(), pw, sizeof pw) != 0)
        return "<does not decode: " + code + ">";
    return pw;
}

}  // namespace e2e
