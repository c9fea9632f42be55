// Upload of one page in chunks (procedure 60): a page can be larger than the
// server takes in one request, so it travels as (offset, length, bytes)
// pieces. The offsets always advance by the full chunk size and the passes go
// on while the offset has not passed the end: a page whose size is a multiple
// of the chunk size ends with an empty chunk, which the server reads as the
// end of the page.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "a_family.hpp"

using namespace alpha;

namespace {

constexpr int kDefaultChunk = 1488;

// Reads the named file whole; false when it cannot be opened, is not a
// regular file, is too large for one upload, or its reading fails.
bool rd_file(const char *name, std::vector<char> &content) noexcept
{
    if (name == nullptr)
        return false;
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= INT_MAX;
    try {
        if (ok)
            content.resize(static_cast<size_t>(st.st_size));
    } catch (...) {
        ok = false;
    }
    for (size_t got = 0; ok && got < content.size();) {
        ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        got += ok ? static_cast<size_t>(n) : 0;
    }
    ::close(fd);
    return ok;
}

int put_chunks(CLIENT *given, CLIENT *c, a_put_pageb_i &req, const char *data, int total,
               int chunk) noexcept
{
    for (long offset = 0; offset <= total; offset += chunk) {
        const long rest = total - offset;
        req.offset = offset;
        req.length = rest < chunk ? rest : chunk;
        req.data.page_dat_len = static_cast<u_int>(req.length);
        req.data.page_dat_val = const_cast<char *>(data + offset);
        if (int rc = Alpha::exchange(given, c, a_put_pageb_1, &req, xdr_bool, yes_no))
            return rc;
    }
    return RPCLIB_OK;
}

}  // namespace

extern "C" {

int a_put_page_data_lib(CLIENT *clnt, const char *userid, long nr, short page, short kind,
                        const char *data, int total, int chunk) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::a_resolve(clnt, &c))
        return rc;
    if (total < 0)
        return RPCLIB_OK;
    a_put_pageb_i req{};
    my_strncpy(req.userid, userid, 10);
    req.nr = nr;
    req.page = page;
    req.kind = kind;
    return put_chunks(clnt, c, req, data, total, chunk > 0 ? chunk : kDefaultChunk);
}

int a_put_page_lib(CLIENT *clnt, const char *userid, long nr, short page, short kind,
                   const char *filename, int chunk) noexcept
{
    std::vector<char> content;
    if (!rd_file(filename, content)) {
        std::fprintf(stderr, "Error: cannot read file %s\n", filename != nullptr ? filename : "");
        return RPCLIB_A_FILE_UNREADABLE;
    }
    return a_put_page_data_lib(clnt, userid, nr, page, kind, content.data(),
                               static_cast<int>(content.size()), chunk);
}

}  // extern "C"
