/* A deadline for the whole of one RPC call. Internal to the client
 * libraries: each library's generated stubs are compiled with this header
 * first, so that their clnt_call becomes call_within_deadline.
 *
 * libtirpc's time-out bounds each wait for the next bytes, not the call: its
 * stream client skips replies to other transactions and reads a reply in
 * pieces, waiting the whole time-out each time, so a server that keeps
 * sending can hold a call for ever. Here a watchdog thread holds the armed
 * calls (descriptor and deadline); at a call's deadline it shuts the
 * connection down, and the call fails as on a dead connection
 * (RPC_CANTRECV), which the wrappers report as their failure code. The
 * deadline lies a little after libtirpc's own time-out, so a server that
 * merely stays silent still ends the call as RPC_TIMEDOUT, its connection
 * intact.
 *
 * - No signal, handler or timer of the caller's is used: the watchdog is a
 *   thread that blocks every signal, started on the first call.
 * - Each call has its own entry, so each handle keeps its own deadline.
 * - Arming costs a lock and a list insertion, and no system call: the
 *   watchdog is woken only when a new deadline comes before the one it
 *   sleeps towards, and the descriptor is read where libtirpc's stream
 *   client keeps it, first in its private data, once a first call of that
 *   kind of client has shown, through clnt_control, that it is there
 *   (clnt_control itself costs two system calls).
 * - A forked child starts with no watchdog and no armed call and starts its
 *   own watchdog on its first call (pthread_atfork).
 * - A call is disarmed under the lock before the stub returns, so the
 *   watchdog never shuts down a descriptor that was closed and reused.
 * - Datagram handles are left to libtirpc, whose datagram client already
 *   counts its time-out over the whole call, retransmissions and stray
 *   replies included.
 * - When the thread cannot be started, calls go on without the bound.
 * Every library that includes this has its own watchdog (static state). */
#ifndef CALL_DEADLINE_H
#define CALL_DEADLINE_H

#include <pthread.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <stddef.h>
#include <sys/socket.h>
#include <time.h>

#define CALL_DEADLINE_GRACE_NS 500000000L

struct call_deadline {
    int fd;
    struct timespec at; /* CLOCK_MONOTONIC */
    int fired;
    struct call_deadline *prev, *next;
};

/* How the descriptor of a kind of client (its table of operations) is
 * found: not at all (datagrams, no descriptor), first in its private data,
 * or through clnt_control. */
enum {
    CALL_DEADLINE_UNKNOWN,
    CALL_DEADLINE_NONE,
    CALL_DEADLINE_FD_FIRST,
    CALL_DEADLINE_FD_CONTROL
};
#define CALL_DEADLINE_KINDS 8

static struct call_deadline_watch {
    pthread_mutex_t lock;
    pthread_cond_t wake; /* on CLOCK_MONOTONIC once started */
    struct call_deadline *armed;
    struct timespec wakes_at; /* the watchdog's next wake-up; tv_sec < 0: none */
    int running;
    int atfork;
    int nkinds;
    struct {
        const void *ops;
        int how;
    } kinds[CALL_DEADLINE_KINDS];
} call_deadline_watch = {
    PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, NULL, {-1, 0}, 0, 0, 0, {{NULL, 0}}};

static inline int call_deadline_before(const struct timespec *a, const struct timespec *b)
{
    return a->tv_sec < b->tv_sec || (a->tv_sec == b->tv_sec && a->tv_nsec < b->tv_nsec);
}

static inline void *call_deadline_watchdog(void *unused)
{
    struct call_deadline_watch *w = &call_deadline_watch;
    pthread_mutex_lock(&w->lock);
    for (;;) {
        struct timespec now, next = {-1, 0};
        struct call_deadline *e;
        clock_gettime(CLOCK_MONOTONIC, &now);
        for (e = w->armed; e != NULL; e = e->next) {
            if (e->fired)
                continue;
            if (!call_deadline_before(&now, &e->at)) {
                shutdown(e->fd, SHUT_RDWR);
                e->fired = 1;
            } else if (next.tv_sec < 0 || call_deadline_before(&e->at, &next)) {
                next = e->at;
            }
        }
        w->wakes_at = next;
        if (next.tv_sec < 0)
            pthread_cond_wait(&w->wake, &w->lock);
        else
            pthread_cond_timedwait(&w->wake, &w->lock, &next);
    }
    return unused;
}

/* Fork: the child has no watchdog thread and none of the parent's calls. */
static inline void call_deadline_prepare(void) { pthread_mutex_lock(&call_deadline_watch.lock); }
static inline void call_deadline_parent(void) { pthread_mutex_unlock(&call_deadline_watch.lock); }
static inline void call_deadline_child(void)
{
    struct call_deadline_watch *w = &call_deadline_watch;
    w->armed = NULL;
    w->wakes_at.tv_sec = -1;
    w->running = 0;
    pthread_mutex_unlock(&w->lock);
}

/* With the lock held. */
static inline void call_deadline_start(struct call_deadline_watch *w)
{
    pthread_condattr_t ca;
    pthread_attr_t ta;
    pthread_t t;
    sigset_t all, old;

    if (!w->atfork) {
        if (pthread_atfork(call_deadline_prepare, call_deadline_parent, call_deadline_child) != 0)
            return;
        w->atfork = 1;
    }
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&w->wake, &ca);
    pthread_condattr_destroy(&ca);
    pthread_attr_init(&ta);
    pthread_attr_setdetachstate(&ta, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&ta, 256 * 1024);
    /* The thread takes no signal meant for the program. */
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    w->running = pthread_create(&t, &ta, call_deadline_watchdog, NULL) == 0;
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    pthread_attr_destroy(&ta);
}

/* The kind of clnt, by its first call (outside the lock). */
static inline int call_deadline_probe(CLIENT *clnt)
{
    int fd = -1, type = 0;
    socklen_t len = sizeof type;
    if (!clnt_control(clnt, CLGET_FD, (char *)&fd) || fd < 0 ||
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM)
        return CALL_DEADLINE_NONE;
    if (clnt->cl_private != NULL && *(const int *)clnt->cl_private == fd)
        return CALL_DEADLINE_FD_FIRST;
    return CALL_DEADLINE_FD_CONTROL;
}

/* With the lock held. */
static inline int call_deadline_known(struct call_deadline_watch *w, const void *ops)
{
    int i;
    for (i = 0; i < w->nkinds; ++i)
        if (w->kinds[i].ops == ops)
            return w->kinds[i].how;
    return CALL_DEADLINE_UNKNOWN;
}

static inline void call_deadline_remember(struct call_deadline_watch *w, const void *ops, int how)
{
    if (call_deadline_known(w, ops) == CALL_DEADLINE_UNKNOWN && w->nkinds < CALL_DEADLINE_KINDS) {
        w->kinds[w->nkinds].ops = ops;
        w->kinds[w->nkinds].how = how;
        ++w->nkinds;
    }
}

/* Arms e for the call on clnt; 0 when the call is not to be watched (a
 * datagram client, or no watchdog: the call goes on unbounded). */
static inline int call_deadline_arm(struct call_deadline *e, CLIENT *clnt, struct timeval timeout)
{
    struct call_deadline_watch *w = &call_deadline_watch;
    int how, fd = -1;
    clock_gettime(CLOCK_MONOTONIC, &e->at);
    e->at.tv_sec += timeout.tv_sec;
    e->at.tv_nsec += (long)timeout.tv_usec * 1000 + CALL_DEADLINE_GRACE_NS;
    while (e->at.tv_nsec >= 1000000000L) {
        e->at.tv_nsec -= 1000000000L;
        ++e->at.tv_sec;
    }
    e->fired = 0;
    e->prev = NULL;
    pthread_mutex_lock(&w->lock);
    how = call_deadline_known(w, clnt->cl_ops);
    if (how == CALL_DEADLINE_UNKNOWN || how == CALL_DEADLINE_FD_CONTROL) {
        pthread_mutex_unlock(&w->lock);
        if (how == CALL_DEADLINE_UNKNOWN)
            how = call_deadline_probe(clnt);
        if (how == CALL_DEADLINE_FD_CONTROL && !clnt_control(clnt, CLGET_FD, (char *)&fd))
            fd = -1;
        pthread_mutex_lock(&w->lock);
        call_deadline_remember(w, clnt->cl_ops, how);
    }
    if (how == CALL_DEADLINE_FD_FIRST)
        fd = *(const int *)clnt->cl_private;
    if (fd >= 0 && !w->running)
        call_deadline_start(w);
    if (fd < 0 || !w->running) {
        pthread_mutex_unlock(&w->lock);
        return 0;
    }
    e->fd = fd;
    e->next = w->armed;
    if (w->armed != NULL)
        w->armed->prev = e;
    w->armed = e;
    if (w->wakes_at.tv_sec < 0 || call_deadline_before(&e->at, &w->wakes_at)) {
        w->wakes_at = e->at;
        pthread_cond_signal(&w->wake);
    }
    pthread_mutex_unlock(&w->lock);
    return 1;
}

/* Returns whether the deadline had passed. */
static inline int call_deadline_disarm(struct call_deadline *e)
{
    struct call_deadline_watch *w = &call_deadline_watch;
    int fired;
    pthread_mutex_lock(&w->lock);
    if (e->prev != NULL)
        e->prev->next = e->next;
    else
        w->armed = e->next;
    if (e->next != NULL)
        e->next->prev = e->prev;
    fired = e->fired;
    pthread_mutex_unlock(&w->lock);
    return fired;
}

/* clnt_call, ended at timeout (plus the grace) in total on a stream. */
static inline enum clnt_stat call_within_deadline(CLIENT *clnt, rpcproc_t proc, xdrproc_t xargs,
                                                  void *argsp, xdrproc_t xres, void *resp,
                                                  struct timeval timeout)
{
    struct call_deadline e;
    enum clnt_stat st;

    if ((timeout.tv_sec == 0 && timeout.tv_usec == 0) || !call_deadline_arm(&e, clnt, timeout))
        return clnt->cl_ops->cl_call(clnt, proc, xargs, argsp, xres, resp, timeout);
    st = clnt->cl_ops->cl_call(clnt, proc, xargs, argsp, xres, resp, timeout);
    call_deadline_disarm(&e);
    return st;
}

#ifdef CALL_DEADLINE_STUBS
#undef clnt_call
#define clnt_call(rh, proc, xargs, argsp, xres, resp, secs) \
    call_within_deadline((rh), (proc), (xargs), (void *)(argsp), (xres), (void *)(resp), (secs))
#endif

#endif
