// Encodes and decodes lists of versioned fax lines of 1,000 to 1,000,000
// elements, once with the omega library's iterative list codec and once with
// plain recursive rpcgen code for the same bytes, and prints both times side
// by side with their ratio. The recursive code runs in a child process per
// length, on the default stack, so that its crash on a long list is reported
// instead of ending the benchmark.
//
//   list_codec_bench [MAX_ELEMENTS]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "o_lib.h"
#include "recursive_faxl.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Wire bytes of one version-0 element with its presence flag, and of the
// answer around the list (count, first flag, error).
constexpr size_t kElementWire = 4 + 4 + 2312;
constexpr size_t kAnswerWire = 12;

struct Times {
    double encode = 0, decode = 0, release = 0;
};

// A version-0 fax line whose texts hold a few characters each.
template <class Body>
void fill(Body &b, size_t i)
{
    std::snprintf(reinterpret_cast<char *>(b.name), sizeof b.name, "fl%zu", i % 100000000);
    std::memcpy(b.f2, "host.example.org", 17);
    std::memcpy(b.f14, "Faxleitung", 11);
    std::memcpy(b.f22, "Beschreibung", 13);
    b.f5 = -1;
    b.f8 = 0x1234;
    b.f20 = static_cast<long>(i);
}

o_faxl_v0 &version0(o_faxl_new &e)
{
    e.version = 0;
    return e.o_faxl_new_u.v0;
}

bfaxl_v0 &version0(bfaxl_new &e)
{
    e.xversion = 0;
    return e.bfaxl_new_u.v0;
}

// Builds, encodes, decodes and frees a list of n elements with the given
// answer type and XDR routine; false when a routine fails.
template <class Answer, class Node>
bool run(bool_t (*xdr_answer)(XDR *, Answer *), size_t n, std::vector<char> &buf, Times &t)
{
    Answer out{};
    Node **link = &out.list;
    for (size_t i = 0; i < n; ++i) {
        Node *node = static_cast<Node *>(std::calloc(1, sizeof(Node)));
        fill(version0(node->entry), i);
        *link = node;
        link = &node->next;
    }
    out.count = static_cast<long>(n);

    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    auto start = Clock::now();
    bool ok = xdr_answer(&x, &out);
    t.encode = ms_since(start);
    xdr_destroy(&x);

    Answer in{};
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_DECODE);
    start = Clock::now();
    ok = xdr_answer(&x, &in) && ok;
    t.decode = ms_since(start);
    xdr_destroy(&x);

    start = Clock::now();
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_answer), reinterpret_cast<char *>(&in));
    t.release = ms_since(start);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_answer), reinterpret_cast<char *>(&out));
    return ok;
}

bool run_library(size_t n, std::vector<char> &buf, Times &t)
{
    return run<o_get_faxl_new_ll_o, o_faxl_new_ll>(xdr_o_get_faxl_new_ll_o, n, buf, t);
}

bool run_generated(size_t n, std::vector<char> &buf, Times &t)
{
    return run<bget_faxl_new_ll_o, bfaxl_new_ll>(xdr_bget_faxl_new_ll_o, n, buf, t);
}

// Runs the recursive code in a child, with a buffer of its own (writing to
// the parent's would cost a copy of every page); false (and the signal) when
// it died.
bool generated_in_child(size_t n, size_t buf_size, Times &t, int *signal_number)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Times mine;
        std::vector<char> buf(buf_size);
        const bool ok = run_generated(n, buf, mine);
        if (write(fds[1], &mine, sizeof mine) != sizeof mine)
            _exit(2);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    const ssize_t got = read(fds[0], &t, sizeof t);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return got == sizeof t && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char **argv)
{
    const size_t max = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    std::printf("%10s  %28s  %28s  %7s\n", "elements", "library ms (enc/dec/free)",
                "generated ms (enc/dec/free)", "gen/lib");
    size_t first_failure = 0;
    for (size_t n : {1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000, 500000, 1000000}) {
        if (n > max)
            break;
        std::vector<char> buf(kAnswerWire + n * kElementWire);
        Times lib, gen;
        if (!run_library(n, buf, lib)) {
            std::printf("%10zu  library codec failed\n", n);
            return 1;
        }
        int sig = 0;
        const bool gen_ok = generated_in_child(n, buf.size(), gen, &sig);
        std::printf("%10zu  %8.1f %8.1f %8.1f  ", n, lib.encode, lib.decode, lib.release);
        if (gen_ok) {
            std::printf("%8.1f %8.1f %8.1f  %7.2f\n", gen.encode, gen.decode, gen.release,
                        (gen.encode + gen.decode + gen.release) / (lib.encode + lib.decode + lib.release));
        } else {
            std::printf("%28s\n", sig != 0 ? (std::string("crashed: ") + strsignal(sig)).c_str() : "failed");
            if (first_failure == 0)
                first_failure = n;
        }
    }
    if (first_failure != 0)
        std::printf("recursive generated code first failed at %zu elements (default stack)\n", first_failure);
    else
        std::printf("recursive generated code did not fail up to %zu elements\n", max);
    return 0;
}
