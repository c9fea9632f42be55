// The cost of the whole-call deadline on a normal call: the clock procedure
// of the development alpha server on one open handle, called alternately in
// blocks through the plain clnt_call and through call_within_deadline (what
// every stub runs), and the stub itself. Prints the median time per call of
// each and the extra cost. Not a test: run it by hand, from an optimised
// build.
//
//   call_deadline_bench [BLOCKS]   (default 40 blocks of 500 calls each way)
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "a_lib.h"
#include "call_deadline.h"
#include "devservers.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCallsPerBlock = 500;
const timeval kTimeout{RPC_CALL_TIMEOUT_SECONDS, 0};

enum class Way { plain, deadline, stub };

// xdr_void takes no arguments in C++; through void (*)() the cast is plain.
xdrproc_t void_proc()
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(&xdr_void));
}

// Microseconds per call over one block; a failed call ends the run.
double block(CLIENT *c, Way way)
{
    long now = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < kCallsPerBlock; ++i) {
        bool ok = false;
        switch (way) {
        case Way::plain:
            ok = clnt_call(c, A_GET_JETZT, void_proc(), nullptr,
                           reinterpret_cast<xdrproc_t>(xdr_slong), reinterpret_cast<char *>(&now),
                           kTimeout) == RPC_SUCCESS;
            break;
        case Way::deadline:
            ok = call_within_deadline(c, A_GET_JETZT, void_proc(), nullptr,
                                      reinterpret_cast<xdrproc_t>(xdr_slong), &now,
                                      kTimeout) == RPC_SUCCESS;
            break;
        case Way::stub:
            ok = a_get_jetzt_1(nullptr, c) != nullptr;
            break;
        }
        if (!ok) {
            std::fprintf(stderr, "call failed\n");
            std::exit(1);
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / kCallsPerBlock;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    const int blocks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    std::signal(SIGPIPE, SIG_IGN);
    setenv("QUIRVERPCOFFSET", std::to_string(e2e::test_offset()).c_str(), 1);
    e2e::DevServers servers({}, {}, {});
    CLIENT *c = nullptr;
    if (a_open_client_lib(&c, "127.0.0.1") != 0) {
        std::fprintf(stderr, "no alpha server\n");
        return 1;
    }
    for (Way w : {Way::plain, Way::deadline, Way::stub})
        block(c, w);  // warm-up, and the watchdog is started
    std::vector<double> plain, deadline, stub;
    for (int i = 0; i < blocks; ++i) {
        plain.push_back(block(c, Way::plain));
        deadline.push_back(block(c, Way::deadline));
        stub.push_back(block(c, Way::stub));
    }
    const double p = median(plain), d = median(deadline), s = median(stub);
    std::printf("%d blocks of %d calls each way, median microseconds per call\n", blocks,
                kCallsPerBlock);
    std::printf("  clnt_call without deadline  %8.2f\n", p);
    std::printf("  with the deadline           %8.2f  (%+.1f %%)\n", d, (d / p - 1) * 100);
    std::printf("  the stub a_get_jetzt_1      %8.2f  (%+.1f %%)\n", s, (s / p - 1) * 100);
    a_close_client_lib(c);
    return 0;
}
