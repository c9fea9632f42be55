// The client libraries against servers that answer badly, each call in a process of its own (this
// program again, with --call NAME) against a server of its own.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include <random>
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

// Descriptors and heap stay where they were (beside what libtirpc keeps of a bare clnt_create).
bool thousand_failures(long base, int (*fail)(), int failure)
{
    auto bare = [&] {
        if (CLIENT *c = clnt_create("127.0.0.1", rpc_prog_nr(base), 1, "tcp"))
            clnt_destroy(c);
    };
    auto descriptors = [] {
        using std::filesystem::directory_iterator;
        return std::distance(directory_iterator("/proc/self/fd"), directory_iterator{});
    };
    for (int i = 0; i < 3; ++i)  // first-use allocations
        bare(), fail();
    const long fd0 = descriptors(), h0 = heap_in_use();
    for (int i = 0; i < 1000; ++i)
        bare();
    const long h1 = heap_in_use();
    int failed = 0;
    for (int i = 0; i < 1000; ++i)
        failed += fail() == failure;
    const long h2 = heap_in_use(), fd1 = descriptors();
    const bool flat = std::abs(fd1 - fd0) <= 3 && h2 - h1 <= std::max(h1 - h0, 0L) + 4096;
    return failed == 1000 && flat;
}

int config() { return o_get_config_lib(nullptr, "PINLENMIN", *out<char[81]>()); }
int usrconf() { return a_get_usrconf_lib(nullptr, "mueller", "T4711", *out<char[81]>()); }

const std::map<std::string, int (*)()> kChildCalls = {
    {"o_get_config_lib", config},
    {"o_get_faxg_ll_lib", [] { return o_get_faxg_ll_lib(nullptr, out<o_get_faxg_ll_o>()); }},
    {"a_get_usrconf_lib", usrconf},
    {"a_get_pageb_lib",
     [] { return a_get_pageb_lib(nullptr, "mueller", 0, 1, 1, 0, 0, 4096, out<a_get_pageb_o>()); }},
    {"a_get_user_lib",
     [] {
         a_user_rec &r = *out<a_user_rec>();
         const int rc = a_get_user_lib(nullptr, "u1", &r);
         return rc != 0 ? rc : all_terminated(r.userid, r.name, r.group, r.text1, r.text2, r.text3);
     }},
    {"a_get_jetzt_1",  // through a handle of the caller's: 0 for no answer
     [] {
         CLIENT *&own = *out<CLIENT *>();
         const bool opened = a_open_client_lib(&own, nullptr) == RPCLIB_OK;
         return opened && a_get_jetzt_1(nullptr, own) == nullptr ? 0 : -1;
     }},
    {"omega: 1000 failed calls",  // then a call that connects anew
     [] {
         const bool flat = thousand_failures(OMEGA_PROGRAM_BASE, config, RPCLIB_O_CALL_FAILED);
         return flat ? o_get_compat_lib(nullptr, out<long>(), out<long>()) : -3;
     }},
    {"alpha: 1000 failed calls",
     [] {
         const bool flat = thousand_failures(ALPHA_PROGRAM_BASE, usrconf, RPCLIB_A_CALL_FAILED);
         return flat ? a_a_log_lib(nullptr, "dialcred: after the failures") : -3;
     }},
};

// A figure of /proc/self/status in KiB.
long status_kib(const std::string &field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// A default handle is held exactly when the call succeeded (the raw stub uses its own).
int run_child_call(const std::string &name)
{
    std::signal(SIGPIPE, SIG_IGN);
    const auto t0 = std::chrono::steady_clock::now();
    const int code = kChildCalls.at(name)();
    const double s = seconds_since(t0);
    const bool held = omega_clnt_var != nullptr || alpha_clnt_var != nullptr;
    const bool handle_ok = name.ends_with("_1") ? !held : held == (code == 0);
    std::printf("%d %.3f %d %ld %ld\n", code, s, handle_ok, status_kib("VmHWM"),
                status_kib("VmPeak"));
    return 0;
}

Answer reply(std::uint32_t xid, const Bytes &results, double repeat_every = 0)
{
    return {e2e::success_record(xid, results), false, repeat_every};
}

Bytes repeated(std::size_t n, std::uint32_t word, Bytes b = {})
{
    for (const Bytes w = e2e::xdr_words({word}); n-- > 0;)
        b.insert(b.end(), w.begin(), w.end());
    return b;
}

// A way of answering badly.
struct Hostility {
    const char *what;
    Answer (*answer)(const RpcCall &c);
    bool waits = false;  // the call waits out its time-out
};
const Hostility kGarbage{"256 pseudo-random bytes", [](auto &) {
                             Bytes b(256);
                             std::generate(b.begin(), b.end(), std::minstd_rand(4711));
                             return Answer{b};
                         }};
const Hostility kCutRecord{"a record cut inside its first result, then closed", [](auto &c) {
                               Bytes b = e2e::success_record(
                                   c.xid, Bytes(64, 0));  // 64 bytes announced, 2 sent
                               b.resize(4 + 24 + 2);
                               return Answer{b, true};
                           }};
const Hostility kShortRecord{"a whole record ending inside its first result",
                             [](auto &c) { return reply(c.xid, Bytes(2, 0)); }};
const Hostility kOtherXid{"a reply to another call, then nothing",
                          [](auto &c) { return reply(c.xid + 1, Bytes(512, 0)); }, true};
const Hostility kSilent{"nothing", [](auto &) { return Answer{}; }, true};
const Hostility kOtherXidEverySecond{"a reply to another call every second",
                                     [](auto &c) { return reply(c.xid + 1, Bytes(512, 0), 1.0); },
                                     true};
// The next two begin as a page block (ok and its number) and a list (its count) would.
const Hostility kHugeCount{
    "2^31 bytes announced, 16 sent", [](auto &c) {
        return reply(c.xid, repeated(4, 0x78787878u, e2e::xdr_words({1, 4096, 1u << 31})));
    }};
const Hostility kEndlessFlags{
    "a million presence flags and no node",  // the link, then a flag a node
    [](auto &c) { return reply(c.xid, repeated(1000001, 1, e2e::xdr_words({1000000}))); }};
const Hostility kUnterminated{"characters only, no NUL anywhere",
                              [](auto &c) { return reply(c.xid, repeated(200, 'x')); }};
const Hostility kClosesAllButTwo{
    "a closed connection, but for o_get_compat and a_a_log", [](auto &c) {
        if (c.proc == O_GET_COMPAT)
            return reply(c.xid, e2e::xdr_words({1, 2}));
        return c.proc == A_A_LOG ? reply(c.xid, e2e::xdr_words({1})) : Answer{{}, true};
    }};

struct Case {
    std::string call;
    Hostility hostility;
    int expected;  // the library's code; the raw stub gives 0 for no answer
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
        s.insert(s.end(),
                 {reinterpret_cast<long>(a.sa_handler), a.sa_flags, sigismember(&mask, sig)});
    }
    itimerval t{};
    getitimer(ITIMER_REAL, &t);
    s.insert(s.end(), {t.it_value.tv_sec, t.it_value.tv_usec});
    return s;
}

}  // namespace

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
            cases[i].hostility.answer));
        children.emplace_back([&results, &cases, i, offset] {
            testsupport::Environment env = testsupport::sanitizer_environment();
            for (const char *var : {"LOCALHOST", "OMEGAHOST", "ALPHAHOST"})
                env[var] = "127.0.0.1";
            env.insert({{"PATH", "/usr/bin:/bin"}, {"QUIRVERPCOFFSET", std::to_string(offset)}});
            results[i] = testsupport::run_command({"/proc/self/exe", "--call", cases[i].call}, env,
                                                  170);
        });
    }
    for (std::thread &t : children)
        t.join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.call + " against a server sending " + c.hostility.what + "\n" +
                     results[i].err);
        EXPECT_EQ(results[i].exit_status, 0) << "a crash or a sanitizer report";
        int code = -99, handle_ok = 0;
        double s = -1;
        long own_peak = -1, vm_peak = -1;
        std::sscanf(results[i].out.c_str(), "%d %lf %d %ld %ld", &code, &s, &handle_ok, &own_peak,
                    &vm_peak);
        EXPECT_EQ(code, c.expected);
        EXPECT_LE(s, c.within);
        EXPECT_TRUE(!c.hostility.waits || s >= RPC_CALL_TIMEOUT_SECONDS - 1)
            << s << " s: the time-out is 25 s";
        EXPECT_TRUE(handle_ok) << "a failed call through the default handle forgets it";
        // The address sanitizer's own shadow, quarantine and reserve count there too.
        EXPECT_TRUE(kAddressSanitizer || (own_peak > 0 && own_peak < 64 * 1024))
            << own_peak << " KiB resident";
        EXPECT_TRUE(kAddressSanitizer || vm_peak < 1024 * 1024)
            << vm_peak << " KiB of address space";
    }
}

TEST(HostileServer, EveryBrokenAnswerEndsInItsCodeWithinTheTimeOutAndBoundedMemory)
{
    std::vector<Case> cases = {
        // Counts with nothing behind them: memory as the bytes arrive (xdr_bytes would reserve the
        // whole count first), no node kept for a flag alone.
        {"a_get_pageb_lib", kHugeCount, RPCLIB_A_CALL_FAILED},
        {"o_get_faxg_ll_lib", kEndlessFlags, RPCLIB_O_CALL_FAILED},
        // libtirpc's time-out bounds each wait for bytes, which these replies renew for ever.
        {"o_get_config_lib", kOtherXidEverySecond, RPCLIB_O_CALL_FAILED},
        {"a_get_jetzt_1", kOtherXidEverySecond, 0},
        // Before, a field that arrived without its terminator ran on into the next one.
        {"a_get_user_lib", kUnterminated, RPCLIB_OK},
    };
    // Transport faults, for a wrapper of each library, a list and the clock stub.
    for (const Hostility &h : {kGarbage, kCutRecord, kShortRecord, kOtherXid, kSilent})
        for (auto [call, code] : {std::pair{"o_get_config_lib", RPCLIB_O_CALL_FAILED},
                                  {"o_get_faxg_ll_lib", RPCLIB_O_CALL_FAILED},
                                  {"a_get_usrconf_lib", RPCLIB_A_CALL_FAILED},
                                  {"a_get_jetzt_1", 0}})
            cases.push_back({call, h, code});
    expect_each_ends_in_its_code(cases);
}

// Before, each failed call through the default lost its descriptor and its client.
TEST(HostileServer, ThousandFailedCallsThroughTheDefaultLoseNoDescriptorOrMemory)
{
    expect_each_ends_in_its_code({{"omega: 1000 failed calls", kClosesAllButTwo, RPCLIB_OK, 150},
                                  {"alpha: 1000 failed calls", kClosesAllButTwo, RPCLIB_OK, 150}});
}

// Procedure 1 gets replies to other calls every 0.2 s, procedure 2 its answer at once.
TEST(CallDeadline, EachHandleEndsAtItsOwnDeadlineEvenInAForkedChildAndNoSignalIsTouched)
{
    std::signal(SIGPIPE, SIG_IGN);
    const auto prog = static_cast<unsigned long>(OMEGA_PROGRAM_BASE + e2e::test_offset() + 72);
    e2e::HostileServer server({prog}, [](const RpcCall &c) {
        return c.proc == 2 ? reply(c.xid, {}) : reply(c.xid + 1, {}, 0.2);
    });
    // xdr_void takes no arguments in C++; through void (*)() the cast is plain.
    const auto xvoid = reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(&xdr_void));
    auto call_for = [xvoid](CLIENT *c, rpcproc_t proc, double limit) -> std::string {
        const auto t0 = std::chrono::steady_clock::now();
        const clnt_stat st = call_within_deadline(c, proc, xvoid, nullptr, xvoid, nullptr,
                                                  {time_t(limit), 0});
        const double late = seconds_since(t0) - limit - CALL_DEADLINE_GRACE_NS / 1e9;
        if (st == RPC_SUCCESS || (st == RPC_CANTRECV && late > -0.05 && late < 1.0))
            return st == RPC_SUCCESS ? "answered" : "ended at its deadline";
        return "status " + std::to_string(st) + ", " + std::to_string(late) + " s late";
    };
    auto client = [prog] { return clnt_create("127.0.0.1", prog, 1, "tcp"); };
    CLIENT *a = client(), *b = client(), *c = client();
    ASSERT_TRUE(a && b && c);
    const std::vector<long> before = signal_state();
    std::string ta, tb;
    std::thread first([&] { ta = call_for(a, 1, 1.0); });
    std::thread second([&] { tb = call_for(b, 1, 2.0); });
    int answered = 0;
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        answered += call_for(c, 2, 1.0) == "answered";
    first.join();
    second.join();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);  // a child without a watchdog would hang
        _exit(call_for(client(), 1, 1.0) == "ended at its deadline" ? 0 : 1);
    }
    for (const std::string &t : {ta, tb, call_for(c, 1, 1.0)})
        EXPECT_EQ(t, "ended at its deadline");
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the forked child's call";
    EXPECT_EQ(answered, 20);
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
