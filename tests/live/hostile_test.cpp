// The client libraries against servers that answer badly: every call ends with
// its library's failure code within the whole-call time-out, without a crash
// and in bounded memory. Each call runs in a process of its own (this program
// again, with --call NAME) against a server of its own, all cases at once.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "a_lib.h"
#include "call_deadline.h"
#include "devservers.hpp"
#include "hostile_server.hpp"
#include "o_lib.h"
#include "process.hpp"

#if defined(__SANITIZE_ADDRESS__)
// Its allocator is asked for the heap in use (its interface header is not installed here).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
long heap_in_use() { return static_cast<long>(__sanitizer_get_current_allocated_bytes()); }
constexpr bool kAddressSanitizer = true;
#else
long heap_in_use() { return static_cast<long>(mallinfo2().uordblks); }
constexpr bool kAddressSanitizer = false;
#endif

using e2e::Answer;
using e2e::Bytes;
using e2e::RpcCall;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---------------------------------------------------------------------------
// The child side: one call, with zeroed storage for what it answers.

template <class T>
T *out()
{
    static T storage{};
    return &storage;
}

// 0 when every text field of a record came back terminated at its last position.
template <size_t... N>
int all_terminated(const char (&...fields)[N])
{
    return ((fields[N - 1] == '\0' && std::strlen(fields) == N - 1) && ...) ? 0 : -2;
}

// A handle of the caller's for the raw stubs.
CLIENT *own_alpha()
{
    return a_open_client_lib(out<CLIENT *>(), nullptr) == 0 ? *out<CLIENT *>() : nullptr;
}

// A thousand failed calls through the default handle, against a server that
// closes each connection at once, leave the descriptors and the heap where they
// were (beside what libtirpc keeps of every clnt_create, measured alike); then
// the code of a call that connects anew.
int thousand_failures(long base, unsigned long version, int failure, int (*fail)(), int (*succeed)())
{
    auto bare = [&] {
        if (CLIENT *c = clnt_create("127.0.0.1", rpc_prog_nr(base), version, "tcp"))
            clnt_destroy(c);
    };
    auto descriptors = [] {
        using std::filesystem::directory_iterator;
        return std::distance(directory_iterator("/proc/self/fd"), directory_iterator{});
    };
    for (int i = 0; i < 3; ++i) {  // first-use allocations
        bare();
        fail();
    }
    const long fd0 = descriptors(), h0 = heap_in_use();
    for (int i = 0; i < 1000; ++i)
        bare();
    const long h1 = heap_in_use();
    int failed = 0;
    for (int i = 0; i < 1000; ++i)
        failed += fail() == failure;
    const long h2 = heap_in_use(), fd1 = descriptors();
    std::fprintf(stderr, "%d of 1000 failed; descriptors %ld -> %ld; heap +%ld over 1000 bare clnt_create, +%ld"
                 " over the failed calls\n", failed, fd0, fd1, h1 - h0, h2 - h1);
    return failed == 1000 && std::abs(fd1 - fd0) <= 3 && h2 - h1 <= std::max(h1 - h0, 0L) + 4096 ? succeed() : -3;
}

int config() { return o_get_config_lib(nullptr, "PINLENMIN", *out<char[81]>()); }
int usrconf() { return a_get_usrconf_lib(nullptr, "mueller", "T4711", *out<char[81]>()); }

const std::map<std::string, int (*)()> kChildCalls = {
    {"o_get_config_lib", config},
    {"o_get_faxg_ll_lib", [] { return o_get_faxg_ll_lib(nullptr, out<o_get_faxg_ll_o>()); }},
    {"o_get_faxg_lib", [] {
         const int rc = o_get_faxg_lib(nullptr, "g1", out<o_faxg>());
         return rc != 0 ? rc : all_terminated(out<o_faxg>()->name, out<o_faxg>()->descr);
     }},
    {"a_get_usrconf_lib", usrconf},
    {"a_a_log_lib", [] { return a_a_log_lib(nullptr, "dialcred: hostile"); }},
    {"a_get_usrconf_ll_lib",
     [] { return a_get_usrconf_ll_lib(nullptr, "mueller", "GD_", 10, FALSE, out<a_usrconf_ll_o>()); }},
    {"a_get_pageb_lib", [] { return a_get_pageb_lib(nullptr, "mueller", 0, 1, 1, 0, 0, 4096, out<a_get_pageb_o>()); }},
    {"a_get_user_lib", [] {
         a_user_rec &r = *out<a_user_rec>();
         const int rc = a_get_user_lib(nullptr, "u1", &r);
         return rc != 0 ? rc : all_terminated(r.userid, r.name, r.group, r.text1, r.text2, r.text3);
     }},
    {"a_get_jetzt_1", [] { return a_get_jetzt_1(nullptr, own_alpha()) == nullptr ? 0 : -1; }},
    {"a_tra_str_1", [] { return a_tra_str_1(out<a_tra_str_i>(), own_alpha()) == nullptr ? 0 : -1; }},
    {"omega: a thousand failed calls", [] {
         return thousand_failures(OMEGA_PROGRAM_BASE, OMEGAVERS, 22, config,
                                  [] { return o_get_compat_lib(nullptr, out<long>(), out<long>()); });
     }},
    {"alpha: a thousand failed calls", [] {
         return thousand_failures(ALPHA_PROGRAM_BASE, ALPHAVERS, 16, usrconf,
                                  [] { return a_a_log_lib(nullptr, "dialcred: after the failures"); });
     }},
};

// A figure of /proc/self/status in KiB: VmHWM, the peak resident size since
// the exec, or VmPeak, the peak address space.
long status_kib(const std::string &field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// Prints the code, the seconds of the call alone, whether a default handle is
// held exactly when the call succeeded (raw stubs use their own), and the peaks.
int run_child_call(const std::string &name)
{
    std::signal(SIGPIPE, SIG_IGN);
    const auto t0 = std::chrono::steady_clock::now();
    const int code = kChildCalls.at(name)();
    const double s = seconds_since(t0);
    const bool held = omega_clnt_var != nullptr || alpha_clnt_var != nullptr;
    const bool handle_ok = name.ends_with("_1") ? !held : held == (code == 0);
    std::printf("%d %.3f %d %ld %ld\n", code, s, handle_ok, status_kib("VmHWM"), status_kib("VmPeak"));
    return 0;
}

// ---------------------------------------------------------------------------
// The parent side.

Answer reply(std::uint32_t xid, const Bytes &results, double repeat_every = 0)
{
    return {e2e::success_record(xid, results), false, repeat_every};
}

Bytes repeated(std::size_t n, std::uint32_t word)
{
    Bytes b;
    while (n-- > 0)
        e2e::append(b, e2e::xdr_words({word}));
    return b;
}

enum Hostility { kGarbage, kCutRecord, kShortRecord, kOtherXid, kSilent, kOtherXidEverySecond, kHugeCount,
                 kEndlessFlags, kUnterminated, kClosesAllButTwo };
const char *const kHostility[] = {"256 pseudo-random bytes", "a record cut inside its first result, then closed",
    "a whole record ending inside its first result", "a reply to another call, then nothing", "nothing",
    "a reply to another call every second", "2^31 bytes announced, 16 sent", "a million presence flags and no node",
    "characters only, no NUL anywhere", "a closed connection, but for o_get_compat and a_a_log"};

Answer answer(Hostility h, const std::string &call, const RpcCall &c)
{
    // What an answer begins with before its list or counted bytes: the count
    // and then the link to the chain, or ok and the length.
    Bytes results = call == "o_get_faxg_ll_lib" ? e2e::xdr_words({1000000})
                    : call == "a_get_pageb_lib" ? e2e::xdr_words({1, 4096}) : Bytes{};
    std::uint32_t x = 0x2545f491u;
    switch (h) {
    case kGarbage:
        results.assign(256, 0);
        for (auto &b : results)
            b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        return {results};
    case kCutRecord:  // the mark announces 64 bytes of results, 2 come
        results = reply(c.xid, Bytes(64, 0)).bytes;
        results.resize(4 + 24 + 2);
        return {results, true};
    case kShortRecord: return reply(c.xid, Bytes(2, 0));
    case kOtherXid: return reply(c.xid + 1, Bytes(512, 0));
    case kSilent: return {};
    case kOtherXidEverySecond: return reply(c.xid + 1, Bytes(512, 0), 1.0);
    case kHugeCount: return reply(c.xid, e2e::append(e2e::append(results, e2e::xdr_words({1u << 31})), Bytes(16, 'x')));
    case kEndlessFlags: return reply(c.xid, e2e::append(results, repeated(1000001, 1)));  // the link, then a flag a node
    case kUnterminated: return reply(c.xid, repeated(200, 'x'));
    case kClosesAllButTwo:
        if (c.proc == O_GET_COMPAT)
            return reply(c.xid, e2e::xdr_words({1, 2}));
        return c.proc == A_A_LOG ? reply(c.xid, e2e::xdr_words({1})) : Answer{{}, true};
    }
    return {};
}

struct Case {
    std::string call;
    Hostility hostility;
    int expected;  // the library's code; a raw stub gives 0 for no answer
    double within = RPC_CALL_TIMEOUT_SECONDS + 2.0;  // seconds, with slack for a loaded machine
};

// What the program owns: every handler, the signal mask, the interval timer.
std::vector<long> signal_state()
{
    std::vector<long> s;
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction a {};
        sigaction(sig, nullptr, &a);
        s.insert(s.end(), {reinterpret_cast<long>(a.sa_handler), a.sa_flags, sigismember(&mask, sig)});
    }
    itimerval t{};
    getitimer(ITIMER_REAL, &t);
    s.insert(s.end(), {t.it_value.tv_sec, t.it_value.tv_usec});
    return s;
}

}  // namespace

// Runs every case at once, each against its own server in a process of its own.
void expect_each_ends_in_its_code(const std::vector<Case> &cases)
{
    ASSERT_LE(cases.size(), 36u) << "omega and alpha programs are 36 apart";
    std::vector<std::unique_ptr<e2e::HostileServer>> servers;
    std::vector<testsupport::RunResult> results(cases.size());
    std::vector<std::thread> children;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const long offset = e2e::test_offset() + static_cast<long>(i);
        servers.push_back(std::make_unique<e2e::HostileServer>(
            std::vector<unsigned long>{static_cast<unsigned long>(OMEGA_PROGRAM_BASE + offset),
                                       static_cast<unsigned long>(ALPHA_PROGRAM_BASE + offset)},
            [c = cases[i]](const RpcCall &call) { return answer(c.hostility, c.call, call); }));
        children.emplace_back([&results, &cases, i, offset] {
            testsupport::Environment env = testsupport::sanitizer_environment();
            env.insert({{"PATH", "/usr/bin:/bin"}, {"LOCALHOST", "127.0.0.1"}, {"OMEGAHOST", "127.0.0.1"},
                        {"ALPHAHOST", "127.0.0.1"}, {"QUIRVERPCOFFSET", std::to_string(offset)}});
            results[i] = testsupport::run_command({"/proc/self/exe", "--call", cases[i].call}, env, 170);
        });
    }
    for (std::thread &t : children)
        t.join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.call + " against a server sending " + kHostility[c.hostility] + "\n" + results[i].err);
        EXPECT_EQ(results[i].exit_status, 0) << "a crash or a sanitizer report";
        int code = -99, handle_ok = 0;
        double s = -1;
        long own_peak = -1, vm_peak = -1;
        std::sscanf(results[i].out.c_str(), "%d %lf %d %ld %ld", &code, &s, &handle_ok, &own_peak, &vm_peak);
        std::printf("%-30s %-52s %3d %7.3f s, peak %ld KiB, VmPeak %ld KiB\n", c.call.c_str(), kHostility[c.hostility],
                    code, s, own_peak, vm_peak);
        EXPECT_EQ(code, c.expected);
        EXPECT_LE(s, c.within);
        const bool waits = c.hostility == kOtherXid || c.hostility == kSilent || c.hostility == kOtherXidEverySecond;
        EXPECT_TRUE(!waits || s >= RPC_CALL_TIMEOUT_SECONDS - 1) << s << " s: the time-out is 25 s";
        EXPECT_TRUE(handle_ok) << "a failed call through the default handle forgets it";
        // The address sanitizer's own shadow, quarantine and reserve count there too.
        EXPECT_TRUE(kAddressSanitizer || (own_peak > 0 && own_peak < 64 * 1024)) << own_peak << " KiB resident";
        EXPECT_TRUE(kAddressSanitizer || vm_peak < 1024 * 1024) << vm_peak << " KiB of address space";
    }
}

TEST(HostileServer, EveryBrokenAnswerEndsInItsCodeWithinTheTimeOutAndBoundedMemory)
{
    std::vector<Case> cases;
    // Transport faults, for the wrappers the command uses, a list and the clock stub.
    for (Hostility h : {kGarbage, kCutRecord, kShortRecord, kOtherXid, kSilent})
        for (const char *call :
             {"o_get_config_lib", "o_get_faxg_ll_lib", "a_get_usrconf_lib", "a_a_log_lib", "a_get_jetzt_1"})
            cases.push_back({call, h, std::string(call).starts_with("o_") ? 22 : std::string(call).ends_with("_1") ? 0 : 16});
    cases.insert(cases.end(), {
        // Counts with nothing behind them: memory as the bytes arrive (xdr_bytes
        // would reserve the whole count first), no node kept for a flag alone.
        {"a_get_pageb_lib", kHugeCount, 16},
        {"a_tra_str_1", kHugeCount, 0},
        {"a_get_usrconf_ll_lib", kEndlessFlags, 16},
        {"o_get_faxg_ll_lib", kEndlessFlags, 22},
        // libtirpc's time-out bounds each wait for bytes, which these replies
        // renew for ever: the libraries bound the whole call.
        {"o_get_config_lib", kOtherXidEverySecond, 22},
        {"a_get_usrconf_lib", kOtherXidEverySecond, 16},
        {"a_get_jetzt_1", kOtherXidEverySecond, 0},
        // Record wrappers hand over whole records: a field that arrives
        // without its terminator ends in a NUL at its last position.
        {"o_get_faxg_lib", kUnterminated, 0},
        {"a_get_user_lib", kUnterminated, 0},
    });
    expect_each_ends_in_its_code(cases);
}

// A failed call through the default handle lets go of its client.
TEST(HostileServer, ThousandFailedCallsThroughTheDefaultLoseNoDescriptorOrMemory)
{
    expect_each_ends_in_its_code({{"omega: a thousand failed calls", kClosesAllButTwo, 0, 150},
                                  {"alpha: a thousand failed calls", kClosesAllButTwo, 0, 150}});
}

// The whole-call deadline itself (call_deadline.h, which every stub runs), with
// short time-outs, against a server that answers procedure 1 with replies to
// other calls every 0.2 s and procedure 2 at once: two calls held at once end
// each at its own deadline while a third handle keeps working, a forked child
// (no watchdog thread, none of the parent's calls) ends its own call, and
// nothing of the program's signal set-up changes.
TEST(CallDeadline, EachHandleEndsAtItsOwnDeadlineEvenInAForkedChildAndNoSignalIsTouched)
{
    std::signal(SIGPIPE, SIG_IGN);
    const auto prog = static_cast<unsigned long>(OMEGA_PROGRAM_BASE + e2e::test_offset() + 72);
    e2e::HostileServer server({prog}, [](const RpcCall &c) {
        return c.proc == 2 ? Answer{e2e::success_record(c.xid, {})} : Answer{e2e::success_record(c.xid + 1, {}), false, 0.2};
    });
    // xdr_void takes no arguments in C++; through void (*)() the cast is plain.
    const auto xvoid = reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(&xdr_void));
    auto call_for = [xvoid](CLIENT *c, rpcproc_t proc, double limit) {
        const auto t0 = std::chrono::steady_clock::now();
        const clnt_stat st = call_within_deadline(c, proc, xvoid, nullptr, xvoid, nullptr, {time_t(limit), 0});
        return std::tuple{st, seconds_since(t0), limit + CALL_DEADLINE_GRACE_NS / 1e9};
    };
    CLIENT *a = clnt_create("127.0.0.1", prog, 1, "tcp"), *b = clnt_create("127.0.0.1", prog, 1, "tcp"),
           *c = clnt_create("127.0.0.1", prog, 1, "tcp");
    ASSERT_TRUE(a && b && c);
    const std::vector<long> before = signal_state();
    std::tuple<clnt_stat, double, double> ta, tb, tc;
    std::thread first([&] { ta = call_for(a, 1, 1.0); });
    std::thread second([&] { tb = call_for(b, 1, 2.0); });
    int prompt_ok = 0;
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        prompt_ok += std::get<0>(call_for(c, 2, 1.0)) == RPC_SUCCESS;
    first.join();
    second.join();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);  // a child without a watchdog would hang
        CLIENT *mine = clnt_create("127.0.0.1", prog, 1, "tcp");
        const auto [st, s, limit] = mine != nullptr ? call_for(mine, 1, 1.0) : std::tuple{RPC_FAILED, 0.0, 0.0};
        _exit(st == RPC_CANTRECV && s < limit + 1.0 ? 0 : 1);
    }
    tc = call_for(c, 1, 1.0);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the forked child's call ended in time";
    for (const auto &[st, s, limit] : {ta, tb, tc}) {
        EXPECT_EQ(st, RPC_CANTRECV);
        EXPECT_GE(s, limit - 0.05) << "an earlier deadline ends only its own call";
        EXPECT_LT(s, limit + 1.0);
    }
    EXPECT_EQ(prompt_ok, 20);
    EXPECT_EQ(signal_state(), before);
    for (CLIENT *h : {a, b, c})
        clnt_destroy(h);
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--call") == 0)
        return run_child_call(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
