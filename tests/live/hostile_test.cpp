// The client libraries against servers that answer badly: garbage, cut
// records, replies to another call, absurd lengths, silence. Every call must
// end with its library's failure code (22 omega, 16 alpha, no answer from a raw
// stub) within the 25-second call time-out, without a crash and in bounded
// memory.
//
// Each call runs in a process of its own (this binary started again with
// --call NAME), so that its memory is its own and a crash cannot take the
// test down; all cases of a test run at once, each with its own server under
// its own program offset, so the time-outs overlap.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "a_lib.h"
#include "call_deadline.h"
#include "devservers.hpp"
#include "hostile_server.hpp"
#include "o_lib.h"

// Under the address sanitizer malloc is its own: the heap in use is asked
// of it (its interface header is not installed with gcc here).
#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define HEAP_FROM_SANITIZER 1
#endif

using e2e::Answer;
using e2e::Bytes;
using e2e::RpcCall;

namespace {

// ---------------------------------------------------------------------------
// The child side: one library call, its code, its time, and whether a failed
// call forgot the default handle.

struct CallOutcome {
    int code;
    bool default_forgotten;
};

// A wrapper called without a handle; whether a failed call let the default
// go (the library destroys it then; a default still held is closed here).
CallOutcome omega_default(int (*call)())
{
    int code = call();
    bool forgotten = omega_clnt_var == nullptr;
    o_close_client_lib(nullptr);
    return {code, forgotten};
}

CallOutcome alpha_default(int (*call)())
{
    int code = call();
    bool forgotten = alpha_clnt_var == nullptr;
    a_close_client_lib(nullptr);
    return {code, forgotten};
}

// A record wrapper whose answer carries no terminator in any text field:
// 0 when every field of the record came back terminated at its end.
template <size_t... N>
int all_terminated(const char (&...fields)[N])
{
    return ((fields[N - 1] == '\0' && std::strlen(fields) == N - 1) && ...) ? 0 : -2;
}

// Raw stubs get a handle of the caller's and keep it: 0 when the stub gave
// no answer, -1 when it gave one.
template <class Stub>
CallOutcome alpha_stub(Stub stub)
{
    CLIENT *c = nullptr;
    if (a_open_client_lib(&c, nullptr) != 0)
        return {2, true};
    int code = stub(c) == nullptr ? 0 : -1;
    a_close_client_lib(c);
    return {code, true};
}

struct ChildCall {
    const char *name;
    CallOutcome (*run)();
};

const ChildCall kChildCalls[] = {
    {"none", [] { return CallOutcome{0, true}; }},
    {"o_get_config_lib", [] {
         return omega_default([] {
             char value[81] = "";
             return o_get_config_lib(nullptr, "PINLENMIN", value);
         });
     }},
    {"o_get_faxg_ll_lib", [] {
         return omega_default([] {
             o_get_faxg_ll_o list{};
             int rc = o_get_faxg_ll_lib(nullptr, &list);
             if (rc == 0)
                 o_get_faxg_ll_free(&list);
             return rc;
         });
     }},
    {"a_get_usrconf_lib", [] {
         return alpha_default([] {
             char value[81] = "";
             return a_get_usrconf_lib(nullptr, "mueller", "T4711", value);
         });
     }},
    {"a_a_log_lib", [] {
         return alpha_default([] { return a_a_log_lib(nullptr, "dialcred: hostile"); });
     }},
    {"a_get_usrconf_ll_lib", [] {
         return alpha_default([] {
             a_usrconf_ll_o out{};
             int rc = a_get_usrconf_ll_lib(nullptr, "mueller", "GD_", 10, FALSE, &out);
             if (rc == 0)
                 a_usrconf_ll_free(&out);
             return rc;
         });
     }},
    {"a_get_pageb_lib", [] {
         return alpha_default([] {
             a_get_pageb_o out{};
             int rc = a_get_pageb_lib(nullptr, "mueller", 0, 1, 1, 0, 0, 4096, &out);
             if (rc == 0)
                 a_get_pageb_free(&out);
             return rc;
         });
     }},
    {"o_get_faxg_lib", [] {
         return omega_default([] {
             o_faxg r{};
             int rc = o_get_faxg_lib(nullptr, "g1", &r);
             return rc != 0 ? rc : all_terminated(r.name, r.descr);
         });
     }},
    {"a_get_user_lib", [] {
         return alpha_default([] {
             a_user_rec r{};
             int rc = a_get_user_lib(nullptr, "u1", &r);
             return rc != 0 ? rc : all_terminated(r.userid, r.name, r.group, r.text1, r.text2, r.text3);
         });
     }},
    {"a_get_jetzt_1", [] {
         return alpha_stub([](CLIENT *c) { return a_get_jetzt_1(nullptr, c); });
     }},
    {"a_tra_str_1", [] {
         return alpha_stub([](CLIENT *c) {
             a_tra_str_i arg{};
             opaque_string *r = a_tra_str_1(&arg, c);
             if (r != nullptr)
                 xdr_free(reinterpret_cast<xdrproc_t>(xdr_opaque_string),
                          reinterpret_cast<char *>(r));
             return r;
         });
     }},
};

// A figure of this process's memory from /proc/self/status, in KiB: VmHWM is
// the peak resident size since the exec (the parent's wait4() figure also
// holds the forked copy of the parent that preceded the exec), VmPeak the
// peak of the address space.
long own_status_kib(const char *field)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    long kib = -1;
    char line[256];
    const std::size_t n = std::strlen(field);
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            kib = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    if (f != nullptr)
        std::fclose(f);
    return kib;
}

int run_child_call(const char *name)
{
    std::signal(SIGPIPE, SIG_IGN);
    for (const ChildCall &c : kChildCalls) {
        if (std::strcmp(c.name, name) != 0)
            continue;
        auto t0 = std::chrono::steady_clock::now();
        CallOutcome o = c.run();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%d %.3f %d %ld %ld\n", o.code, s, o.default_forgotten ? 1 : 0,
                    own_status_kib("VmHWM"), own_status_kib("VmPeak"));
        return 0;
    }
    std::fprintf(stderr, "unknown call %s\n", name);
    return 2;
}

// ---------------------------------------------------------------------------
// The child side of many failed calls through the default handle: open
// descriptors and heap in use before and after, and one call that works.

constexpr int kRepeat = 1000;

int open_descriptors()
{
    int n = -1;  // the directory's own descriptor
    if (DIR *d = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

long heap_in_use()
{
#ifdef HEAP_FROM_SANITIZER
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<long>(mallinfo2().uordblks);
#endif
}

struct FailingLibrary {
    const char *name;
    long base;
    unsigned long version;
    int failure;        // the library's code for a failed call
    int (*fail)();      // a call the server answers by closing the connection
    int (*succeed)();   // a call it answers
};

const FailingLibrary kFailingLibraries[] = {
    {"omega", OMEGA_PROGRAM_BASE, OMEGAVERS, 22,
     [] {
         char v[81];
         return o_get_config_lib(nullptr, "PINLENMIN", v);
     },
     [] {
         long a = 0, b = 0;
         return o_get_compat_lib(nullptr, &a, &b);
     }},
    {"alpha", ALPHA_PROGRAM_BASE, ALPHAVERS, 16,
     [] {
         char v[81];
         return a_get_usrconf_lib(nullptr, "mueller", "T4711", v);
     },
     [] { return a_a_log_lib(nullptr, "dialcred: after the failures"); }},
};

int run_repeated_failures(const char *name)
{
    std::signal(SIGPIPE, SIG_IGN);
    for (const FailingLibrary &lib : kFailingLibraries) {
        if (std::strcmp(lib.name, name) != 0)
            continue;
        // libtirpc keeps a few bytes of every clnt_create after the first:
        // bare pairs of create and destroy measure what is its.
        auto bare = [&lib] {
            if (CLIENT *c = clnt_create("127.0.0.1", rpc_prog_nr(lib.base), lib.version, "tcp"))
                clnt_destroy(c);
        };
        for (int i = 0; i < 3; ++i) {  // first-use allocations
            lib.fail();
            bare();
        }
        const int fd0 = open_descriptors();
        const long h0 = heap_in_use();
        for (int i = 0; i < kRepeat; ++i)
            bare();
        const long h1 = heap_in_use();
        int failed = 0;
        for (int i = 0; i < kRepeat; ++i)
            failed += lib.fail() == lib.failure;
        const long h2 = heap_in_use();
        const int fd1 = open_descriptors();
        std::printf("%d %d %ld %ld %d %d\n", fd0, fd1, h1 - h0, h2 - h1, failed, lib.succeed());
        return 0;
    }
    return 2;
}

// ---------------------------------------------------------------------------
// The parent side.

constexpr double kCallTimeout = RPC_CALL_TIMEOUT_SECONDS;
// Slack over the call time-out for a loaded machine; the time is taken
// around the call alone, process start-up excluded.
constexpr double kTimeSlack = 2.0;
// What a client process may use at its peak: the libraries' failure paths
// must not grow with what a server announces.
constexpr long kPeakLimitKiB = 64 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr std::uint64_t kHugeCount = 0x80000000u;

enum class Hostility {
    Garbage,       // 256 pseudo-random bytes instead of a record
    CutRecord,     // a record announcing a whole reply, cut inside its first result word
                   // and closed
    ShortRecord,   // a complete record whose reply stops inside the first result word
    OtherXid,      // a complete reply to another call, then nothing
    Silent,        // reads the call, never answers
    HugeCount,     // a counted byte string of 2^31 bytes announced, 16 sent
    EndlessFlags,  // a million list presence flags and nothing behind them
    OtherXidEverySecond,  // a reply to another call, again and again
    Unterminated,  // a successful reply whose every unit is a character, no NUL anywhere
};

const char *name_of(Hostility h)
{
    switch (h) {
    case Hostility::Garbage: return "garbage";
    case Hostility::CutRecord: return "cut record";
    case Hostility::ShortRecord: return "short record";
    case Hostility::OtherXid: return "other xid";
    case Hostility::Silent: return "silent";
    case Hostility::HugeCount: return "2^31 count";
    case Hostility::EndlessFlags: return "endless flags";
    case Hostility::OtherXidEverySecond: return "other xid every second";
    case Hostility::Unterminated: return "no terminator";
    }
    return "?";
}

// The words an answer type begins with before its list or byte string.
Bytes lead_words(const std::string &call)
{
    if (call == "o_get_faxg_ll_lib")
        return e2e::xdr_words({1000000});     // count, then the link to the chain
    if (call == "a_get_pageb_lib")
        return e2e::xdr_words({1, 4096});     // ok, length, then the bytes
    return {};                                // usrconf list: the link comes first
}

Answer answer_for(Hostility h, const std::string &call, const RpcCall &c)
{
    using e2e::append;
    using e2e::record;
    using e2e::success_header;
    using e2e::xdr_words;
    switch (h) {
    case Hostility::Garbage: {
        Bytes junk(256);
        std::uint32_t x = 0x2545f491u;
        for (auto &b : junk) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 24);
        }
        return {junk};
    }
    case Hostility::CutRecord: {
        Bytes payload = success_header(c.xid);
        append(payload, Bytes(64, 0));
        Bytes whole = record(payload);
        whole.resize(4 + 24 + 2);  // mark, reply header, half of the first result word
        return {whole, /*close_after=*/true};
    }
    case Hostility::ShortRecord: {
        Bytes payload = success_header(c.xid);
        append(payload, Bytes(2, 0));
        return {record(payload)};
    }
    case Hostility::OtherXid:
    case Hostility::OtherXidEverySecond: {
        Bytes payload = success_header(c.xid + 1);
        append(payload, Bytes(512, 0));
        return {record(payload), false, h == Hostility::OtherXidEverySecond ? 1.0 : 0.0};
    }
    case Hostility::Silent:
        return {};
    case Hostility::Unterminated: {
        Bytes payload = success_header(c.xid);
        for (int i = 0; i < 200; ++i)
            append(payload, xdr_words({'x'}));
        return {record(payload)};
    }
    case Hostility::HugeCount: {
        Bytes payload = success_header(c.xid);
        append(payload, lead_words(call));
        append(payload, xdr_words({static_cast<std::uint32_t>(kHugeCount)}));
        append(payload, Bytes(16, 'x'));
        return {record(payload)};
    }
    case Hostility::EndlessFlags: {
        Bytes payload = success_header(c.xid);
        append(payload, lead_words(call));
        // The record's link to its first node, then a presence flag for each
        // of a million nodes that never come.
        for (int i = 0; i <= 1000000; ++i)
            payload.insert(payload.end(), {0, 0, 0, 1});
        return {record(payload)};
    }
    }
    return {};
}

struct Case {
    std::string call;
    Hostility hostility;
    int expected;  // the library code; 0 for a raw stub that gives no answer
};

struct Outcome {
    bool exited = false;
    int exit_status = -1;
    int signal = 0;
    int code = -99;
    double seconds = -1;
    bool forgotten = false;
    long peak_kib = 0;      // wait4(): the child's whole life, fork included
    long own_peak_kib = 0;  // the child's own, from its exec on
    long vm_peak_kib = 0;   // the child's peak address space
};

std::vector<std::string> child_environment(long offset)
{
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LOCALHOST=127.0.0.1",
                                    "OMEGAHOST=127.0.0.1", "ALPHAHOST=127.0.0.1",
                                    "QUIRVERPCOFFSET=" + std::to_string(offset)};
    for (const auto &[name, value] : testsupport::sanitizer_environment())
        env.push_back(name + "=" + value);
    return env;
}

struct Child {
    pid_t pid = -1;
    int out = -1;
};

Child start_child(const std::string &call, long offset, const char *mode = "--call")
{
    std::vector<std::string> args = {"hostile_test", mode, call};
    std::vector<std::string> env = child_environment(offset);
    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2");
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls here: the test has server threads.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(fds[1], 1);
        execve("/proc/self/exe", argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        throw std::runtime_error("fork");
    }
    return {pid, fds[0]};
}

// Runs every case at once, each against its own hostile server, and returns
// what each child did. Cases beyond the 36 program offsets a test process owns
// are not supported.
std::vector<Outcome> run_cases(const std::vector<Case> &cases, double limit_seconds)
{
    std::vector<std::unique_ptr<e2e::HostileServer>> servers;
    std::vector<Child> children;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const long offset = e2e::test_offset() + static_cast<long>(i);
        const Case c = cases[i];
        servers.push_back(std::make_unique<e2e::HostileServer>(
            std::vector<unsigned long>{static_cast<unsigned long>(OMEGA_PROGRAM_BASE + offset),
                                       static_cast<unsigned long>(ALPHA_PROGRAM_BASE + offset)},
            [c](const RpcCall &call) { return answer_for(c.hostility, c.call, call); }));
    }
    for (std::size_t i = 0; i < cases.size(); ++i)
        children.push_back(start_child(cases[i].call, e2e::test_offset() + static_cast<long>(i)));

    std::vector<Outcome> out(cases.size());
    std::vector<bool> done(cases.size(), false);
    std::size_t left = cases.size();
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(limit_seconds);
    while (left > 0) {
        const bool late = std::chrono::steady_clock::now() > deadline;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (done[i])
                continue;
            if (late)
                kill(children[i].pid, SIGKILL);
            int status = 0;
            rusage ru{};
            pid_t r = wait4(children[i].pid, &status, late ? 0 : WNOHANG, &ru);
            if (r != children[i].pid)
                continue;
            done[i] = true;
            --left;
            Outcome &o = out[i];
            o.peak_kib = ru.ru_maxrss;
            o.exited = WIFEXITED(status);
            o.exit_status = o.exited ? WEXITSTATUS(status) : -1;
            o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            char buf[256] = "";
            ssize_t n = read(children[i].out, buf, sizeof buf - 1);
            buf[n > 0 ? n : 0] = '\0';
            close(children[i].out);
            int forgotten = 0;
            if (std::sscanf(buf, "%d %lf %d %ld %ld", &o.code, &o.seconds, &forgotten,
                            &o.own_peak_kib, &o.vm_peak_kib) == 5)
                o.forgotten = forgotten != 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return out;
}

// The figures, for the record: the same process without any call first.
void report(const std::vector<Case> &cases, const std::vector<Outcome> &out)
{
    const Outcome none = run_cases({{"none", Hostility::Silent, 0}}, 30)[0];
    std::printf("%-22s %-24s %5s %8s %10s %11s %12s\n", "call", "server", "code", "seconds",
                "peak KiB", "wait4 KiB", "VmPeak KiB");
    std::printf("%-22s %-24s %5s %8s %10ld %11ld %12ld\n", "(no call)", "-", "-", "-",
                none.own_peak_kib, none.peak_kib, none.vm_peak_kib);
    for (std::size_t i = 0; i < cases.size(); ++i)
        std::printf("%-22s %-24s %5d %8.3f %10ld %11ld %12ld\n", cases[i].call.c_str(),
                    name_of(cases[i].hostility), out[i].code, out[i].seconds,
                    out[i].own_peak_kib, out[i].peak_kib, out[i].vm_peak_kib);
}

void expect_failed_in_time(const std::vector<Case> &cases, const std::vector<Outcome> &out)
{
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        const Outcome &o = out[i];
        SCOPED_TRACE(c.call + " against a server sending: " + name_of(c.hostility));
        EXPECT_TRUE(o.exited) << "signal " << o.signal;
        EXPECT_EQ(o.exit_status, 0) << "a sanitizer report ends the child otherwise";
        EXPECT_EQ(o.code, c.expected);
        EXPECT_GE(o.seconds, 0.0);
        EXPECT_LE(o.seconds, kCallTimeout + kTimeSlack);
        EXPECT_TRUE(o.forgotten) << "a failed call through the default handle forgets it";
        // The child's own peak: the wait4() figure also counts the copy of
        // this test process that the fork made, and is reported only.
        EXPECT_GT(o.own_peak_kib, 0);
        EXPECT_LT(o.own_peak_kib, kPeakLimitKiB);
    }
}

const char *const kOmegaCalls[] = {"o_get_config_lib", "o_get_faxg_ll_lib"};
const char *const kAlphaCalls[] = {"a_get_usrconf_lib", "a_a_log_lib"};

int expected_code(const std::string &call)
{
    if (call.rfind("o_", 0) == 0)
        return 22;
    if (call.size() > 2 && call.compare(call.size() - 2, 2, "_1") == 0)
        return 0;  // raw stub: no answer
    return 16;
}

}  // namespace

// The transport-level faults, for the wrappers the command uses and the
// clock stub: each one ends in the family's failure code.
TEST(HostileServer, BrokenAnswersEndInTheFailureCodeWithinTheTimeOut)
{
    std::vector<Case> cases;
    for (Hostility h : {Hostility::Garbage, Hostility::CutRecord, Hostility::ShortRecord,
                        Hostility::OtherXid, Hostility::Silent}) {
        std::vector<std::string> calls(std::begin(kOmegaCalls), std::end(kOmegaCalls));
        calls.insert(calls.end(), std::begin(kAlphaCalls), std::end(kAlphaCalls));
        calls.push_back("a_get_jetzt_1");
        for (const std::string &call : calls)
            cases.push_back({call, h, expected_code(call)});
    }
    std::vector<Outcome> out = run_cases(cases, kCallTimeout + 30);
    report(cases, out);
    expect_failed_in_time(cases, out);
}

// Lengths and lists whose announced size has nothing behind it: the decoders
// must neither trust the count with memory nor keep a node for a flag.
TEST(HostileServer, AbsurdLengthsFailWithoutGrowingTheClient)
{
    const std::vector<Case> cases = {
        {"a_get_pageb_lib", Hostility::HugeCount, 16},
        {"a_tra_str_1", Hostility::HugeCount, 0},
        {"a_get_usrconf_ll_lib", Hostility::EndlessFlags, 16},
        {"o_get_faxg_ll_lib", Hostility::EndlessFlags, 22},
    };
    std::vector<Outcome> out = run_cases(cases, kCallTimeout + 30);
    report(cases, out);
    expect_failed_in_time(cases, out);
}

// libtirpc's time-out bounds each wait for the next bytes, not the call: a
// server that sends a reply to another call every second would be skipped
// reply by reply for ever. The libraries bound the whole call.
TEST(HostileServer, RepliesToAnotherCallEverySecondStillEndWithinTheTimeOut)
{
    std::vector<Case> cases;
    for (const char *call : {"o_get_config_lib", "a_get_usrconf_lib", "a_get_jetzt_1"})
        cases.push_back({call, Hostility::OtherXidEverySecond, expected_code(call)});
    std::vector<Outcome> out = run_cases(cases, 60);
    report(cases, out);
    expect_failed_in_time(cases, out);
}

// Record wrappers hand over whole records: a field that arrives without
// its terminator ends in a NUL at its last position, not in the next field.
TEST(HostileServer, UnterminatedFieldsComeBackTerminated)
{
    const std::vector<Case> cases = {{"o_get_faxg_lib", Hostility::Unterminated, 0},
                                     {"a_get_user_lib", Hostility::Unterminated, 0}};
    std::vector<Outcome> out = run_cases(cases, 30);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(out[i].exit_status, 0) << cases[i].call;
        EXPECT_EQ(out[i].code, 0) << cases[i].call << ": -2 is a field without its NUL";
    }
}

// Counted bytes take memory as they arrive, not as their count announces:
// an answer that claims 2 GiB and stops after 16 bytes costs next to nothing
// (xdr_bytes would reserve the whole count first).
TEST(HostileServer, AnnouncedByteCountsAreNotAllocatedBeforeTheBytesArrive)
{
    if (kAddressSanitizer)
        GTEST_SKIP() << "the address sanitizer reserves terabytes of address space itself";
    const std::vector<Case> cases = {{"a_get_pageb_lib", Hostility::HugeCount, 16},
                                     {"a_tra_str_1", Hostility::HugeCount, 0}};
    std::vector<Outcome> out = run_cases(cases, kCallTimeout + 30);
    report(cases, out);
    expect_failed_in_time(cases, out);
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_LT(out[i].vm_peak_kib, 1024 * 1024) << cases[i].call << ": peak address space";
}

// A failed call through the default handle lets go of its client: a
// thousand of them, against a server that closes each connection at once,
// leave the open descriptors and the heap where they were (apart from what
// libtirpc keeps of every clnt_create, measured beside them), and the next
// call connects anew.
TEST(HostileServer, ThousandFailedCallsThroughTheDefaultLoseNoDescriptorOrMemory)
{
    for (std::size_t i = 0; i < std::size(kFailingLibraries); ++i) {
        const FailingLibrary &lib = kFailingLibraries[i];
        SCOPED_TRACE(lib.name);
        const long offset = e2e::test_offset() + 30 + static_cast<long>(i);
        e2e::HostileServer server(
            {static_cast<unsigned long>(OMEGA_PROGRAM_BASE + offset),
             static_cast<unsigned long>(ALPHA_PROGRAM_BASE + offset)},
            [](const RpcCall &c) -> Answer {
                Bytes ok = e2e::success_header(c.xid);
                if (c.proc == O_GET_COMPAT)
                    return {e2e::record(e2e::append(ok, e2e::xdr_words({1, 2})))};
                if (c.proc == A_A_LOG)
                    return {e2e::record(e2e::append(ok, e2e::xdr_words({1})))};
                return {{}, /*close_after=*/true};
            });
        Child child = start_child(lib.name, offset, "--failures");
        int status = 0;
        waitpid(child.pid, &status, 0);
        char buf[256] = "";
        ssize_t n = read(child.out, buf, sizeof buf - 1);
        buf[n > 0 ? n : 0] = '\0';
        close(child.out);
        int fd0 = 0, fd1 = 0, failed = 0, after = -1;
        long libtirpc_kept = 0, ours = 0;
        ASSERT_EQ(std::sscanf(buf, "%d %d %ld %ld %d %d", &fd0, &fd1, &libtirpc_kept, &ours, &failed,
                              &after),
                  6)
            << buf;
        std::printf("%s: descriptors %d -> %d; heap +%ld bytes over %d bare clnt_create, +%ld over "
                    "%d failed calls\n",
                    lib.name, fd0, fd1, libtirpc_kept, kRepeat, ours, kRepeat);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a sanitizer report ends it";
        EXPECT_EQ(failed, kRepeat);
        EXPECT_LE(std::abs(fd1 - fd0), 3);
        EXPECT_LE(ours, std::max(libtirpc_kept, 0L) + 4096);
        EXPECT_EQ(after, 0) << "a call after the failures";
    }
}

// ---------------------------------------------------------------------------
// The whole-call deadline itself (call_deadline.h, the code every stub runs),
// with short time-outs: a server that answers procedure 1 with replies to
// other calls every 0.2 s, and procedure 2 at once.

constexpr rpcproc_t kEndless = 1;
constexpr rpcproc_t kPrompt = 2;

struct DeadlineServer {
    explicit DeadlineServer(long offset)
        : prog(static_cast<unsigned long>(OMEGA_PROGRAM_BASE + offset)),
          server({prog}, [](const RpcCall &c) -> Answer {
              if (c.proc == kPrompt)
                  return {e2e::record(e2e::success_header(c.xid))};
              Bytes payload = e2e::success_header(c.xid + 1);
              return {e2e::record(payload), false, 0.2};
          })
    {
    }
    CLIENT *client() const { return clnt_create("127.0.0.1", prog, 1, "tcp"); }
    unsigned long prog;
    e2e::HostileServer server;
};

// xdr_void takes no arguments in C++; through void (*)() the cast is plain.
xdrproc_t void_proc() { return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(&xdr_void)); }

struct Timed {
    clnt_stat stat;
    double seconds;
};

Timed call_for(CLIENT *c, rpcproc_t proc, double timeout)
{
    const timeval tv{static_cast<time_t>(timeout), static_cast<suseconds_t>((timeout - static_cast<long>(timeout)) * 1e6)};
    const auto t0 = std::chrono::steady_clock::now();
    clnt_stat st = call_within_deadline(c, proc, void_proc(), nullptr,
                                        void_proc(), nullptr, tv);
    return {st, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()};
}

constexpr double kGrace = CALL_DEADLINE_GRACE_NS / 1e9;

// What the program owns: every handler, the signal mask, the interval timer.
struct SignalState {
    std::vector<struct sigaction> actions = std::vector<struct sigaction>(NSIG);
    sigset_t mask{};
    itimerval timer{};
    static SignalState now()
    {
        SignalState s;
        for (int sig = 1; sig < NSIG; ++sig)
            sigaction(sig, nullptr, &s.actions[sig]);
        pthread_sigmask(SIG_SETMASK, nullptr, &s.mask);
        getitimer(ITIMER_REAL, &s.timer);
        return s;
    }
    bool operator==(const SignalState &o) const
    {
        for (int sig = 1; sig < NSIG; ++sig)
            if (actions[sig].sa_handler != o.actions[sig].sa_handler ||
                actions[sig].sa_flags != o.actions[sig].sa_flags)
                return false;
        for (int sig = 1; sig < NSIG; ++sig)
            if (sigismember(&mask, sig) != sigismember(&o.mask, sig))
                return false;
        return timer.it_value.tv_sec == o.timer.it_value.tv_sec &&
               timer.it_value.tv_usec == o.timer.it_value.tv_usec;
    }
};

// Two calls held by a server at once, with deadlines of 1 s and 2 s, each end
// at their own; a third handle keeps working meanwhile; and nothing of the
// program's signal set-up changed.
TEST(CallDeadline, EachHandleEndsAtItsOwnDeadlineAndNoSignalIsTouched)
{
    std::signal(SIGPIPE, SIG_IGN);
    DeadlineServer s(e2e::test_offset() + 33);
    CLIENT *a = s.client(), *b = s.client(), *c = s.client();
    ASSERT_TRUE(a && b && c);
    const SignalState before = SignalState::now();
    Timed ta{}, tb{};
    std::thread first([&] { ta = call_for(a, kEndless, 1.0); });
    std::thread second([&] { tb = call_for(b, kEndless, 2.0); });
    int prompt_ok = 0;
    for (int i = 0; i < 20; ++i) {
        prompt_ok += call_for(c, kPrompt, 1.0).stat == RPC_SUCCESS;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    first.join();
    second.join();
    EXPECT_EQ(ta.stat, RPC_CANTRECV);
    EXPECT_EQ(tb.stat, RPC_CANTRECV);
    EXPECT_GE(ta.seconds, 1.0 + kGrace - 0.05);
    EXPECT_LT(ta.seconds, 1.0 + kGrace + 1.0);
    EXPECT_GE(tb.seconds, 2.0 + kGrace - 0.05) << "the earlier deadline ended only its own call";
    EXPECT_LT(tb.seconds, 2.0 + kGrace + 1.0);
    EXPECT_EQ(prompt_ok, 20);
    EXPECT_TRUE(SignalState::now() == before);
    for (CLIENT *h : {a, b, c})
        clnt_destroy(h);
}

// A forked child has no watchdog thread and none of the parent's calls: its
// first call starts its own, and both sides keep ending their calls.
TEST(CallDeadline, ForkedChildKeepsItsDeadlines)
{
    std::signal(SIGPIPE, SIG_IGN);
    DeadlineServer s(e2e::test_offset() + 34);
    CLIENT *c = s.client();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(call_for(c, kPrompt, 1.0).stat, RPC_SUCCESS);  // the watchdog runs
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        CLIENT *mine = s.client();
        Timed t = mine != nullptr ? call_for(mine, kEndless, 1.0) : Timed{RPC_FAILED, 0};
        _exit(t.stat == RPC_CANTRECV && t.seconds < 1.0 + kGrace + 1.0 ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    Timed t = call_for(c, kEndless, 1.0);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(pid, &status, WNOHANG) == 0) {  // a child without a watchdog hangs
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's call ended in time";
    EXPECT_EQ(t.stat, RPC_CANTRECV);
    EXPECT_LT(t.seconds, 1.0 + kGrace + 1.0);
    clnt_destroy(c);
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--call") == 0)
        return run_child_call(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--failures") == 0)
        return run_repeated_failures(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
