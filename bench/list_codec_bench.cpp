// Encodes, decodes and frees lists of versioned fax lines of 1,000 to
// 1,000,000 elements, once with the omega library's routines (iterative list
// codec, fixed-width strings read and written in the stream's buffer) and
// once with plain rpcgen code for the same bytes (recursive list routine, one
// xdr_u_char call per character), and prints the times of each step and
// their ratios (generated / library).
//
// Both run in one thread with a large stack, so that the recursive code does
// not overflow at 100,000 elements and more (on a default 8 MiB stack it
// does). Each step is timed as the best of five rounds, with memory that
// malloc keeps between rounds: the figures are the codecs' own work, not the
// kernel's first touch of fresh pages, which both would pay alike.
//
//   list_codec_bench [MAX_ELEMENTS [MIN_ELEMENTS]]
#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
constexpr int kRounds = 5;
constexpr size_t kStackBytes = size_t{2} << 30;  // reserved, touched only as deep as used

struct Times {
    double encode = 1e300, decode = 1e300, release = 1e300;
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

// Builds a list of n elements, then encodes, decodes and frees it with the
// given answer routine, keeping the best time of each step; false when a
// routine fails or the decoded list does not encode to the same bytes.
template <class Answer, class Node>
bool run(bool_t (*xdr_answer)(XDR *, Answer *), size_t n, std::vector<char> &buf, Times &t)
{
    const auto proc = reinterpret_cast<xdrproc_t>(xdr_answer);
    Answer out{};
    Node **link = &out.list;
    for (size_t i = 0; i < n; ++i) {
        Node *node = static_cast<Node *>(std::calloc(1, sizeof(Node)));
        fill(version0(node->entry), i);
        *link = node;
        link = &node->next;
    }
    out.count = static_cast<long>(n);

    bool ok = true;
    for (int round = 0; round < kRounds && ok; ++round) {
        XDR x;
        xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
        auto start = Clock::now();
        ok = xdr_answer(&x, &out);
        t.encode = std::min(t.encode, ms_since(start));
        const u_int used = xdr_getpos(&x);
        xdr_destroy(&x);

        Answer in{};
        xdrmem_create(&x, buf.data(), used, XDR_DECODE);
        start = Clock::now();
        ok = ok && xdr_answer(&x, &in);
        t.decode = std::min(t.decode, ms_since(start));
        xdr_destroy(&x);
        ok = ok && in.count == out.count && xdr_getpos(&x) == used;

        start = Clock::now();
        xdr_free(proc, reinterpret_cast<char *>(&in));
        t.release = std::min(t.release, ms_since(start));
    }
    xdr_free(proc, reinterpret_cast<char *>(&out));
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

// Both codecs must write the same bytes for the same list.
bool same_bytes(size_t n)
{
    std::vector<char> a(kAnswerWire + n * kElementWire), b(a.size());
    Times ignored;
    return run_library(n, a, ignored) && run_generated(n, b, ignored) && a == b;
}

size_t g_max = 1000000;
size_t g_min = 0;
int g_status = 0;

void *bench(void *)
{
    if (!same_bytes(100)) {
        std::printf("the two codecs write different bytes\n");
        g_status = 1;
        return nullptr;
    }
    std::printf("%10s  %26s  %26s  %22s\n", "elements", "library ms (enc/dec/free)",
                "generated ms (enc/dec/free)", "gen/lib (enc/dec/free)");
    std::vector<char> buf;
    for (size_t n : {1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000, 500000, 1000000}) {
        if (n > g_max)
            break;
        if (n < g_min)
            continue;
        buf.assign(kAnswerWire + n * kElementWire, 0);  // touched before any timing
        Times lib, gen;
        if (!run_library(n, buf, lib) || !run_generated(n, buf, gen)) {
            std::printf("%10zu  a codec failed\n", n);
            g_status = 1;
            return nullptr;
        }
        std::printf("%10zu  %8.1f %8.1f %8.1f  %8.1f %8.1f %8.1f  %6.1f %6.1f %7.1f\n", n,
                    lib.encode, lib.decode, lib.release, gen.encode, gen.decode, gen.release,
                    gen.encode / lib.encode, gen.decode / lib.decode, gen.release / lib.release);
        std::fflush(stdout);
    }
    return nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1)
        g_max = std::strtoul(argv[1], nullptr, 10);
    if (argc > 2)
        g_min = std::strtoul(argv[2], nullptr, 10);
    // Freed memory stays with malloc for the next round instead of going
    // back to the kernel: one arena (a thread's own arena gives each freed
    // heap back at once), trimmed only beyond 1 GiB.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kStackBytes);
    pthread_t t;
    if (pthread_create(&t, &attr, bench, nullptr) != 0) {
        std::perror("pthread_create");
        return 1;
    }
    pthread_join(t, nullptr);
    return g_status;
}
