/* Iterative list codecs; see chain_xdr.h for why they exist. */
#include "chain_xdr.h"

#include <stdlib.h>
#include <string.h>

#include "common.h"

static void *next_of(const void *node, const chain_layout *l)
{
    void *p;
    memcpy(&p, (const char *)node + l->next_off, sizeof p);
    return p;
}

static void set_next(void *node, const chain_layout *l, void *next)
{
    memcpy((char *)node + l->next_off, &next, sizeof next);
}

static bool_t entry_op(XDR *xdrs, void *node, const chain_layout *l)
{
    return l->entry(xdrs, (char *)node + l->entry_off);
}

/* Releases the entries and nodes of a chain that starts at `node`. */
static void free_nodes(void *node, const chain_layout *l)
{
    XDR fx;
    fx.x_op = XDR_FREE;
    while (node != NULL) {
        void *nx = next_of(node, l);
        entry_op(&fx, node, l);
        free(node);
        node = nx;
    }
}

/* Frees the nodes behind the first (the caller's), then the first's entry. */
static bool_t free_chain(XDR *xdrs, void *first, const chain_layout *l)
{
    free_nodes(next_of(first, l), l);
    set_next(first, l, NULL);
    return entry_op(xdrs, first, l);
}

static void *reverse(void *head, const chain_layout *l)
{
    void *prev = NULL;
    while (head != NULL) {
        void *nx = next_of(head, l);
        set_next(head, l, prev);
        prev = head;
        head = nx;
    }
    return prev;
}

bool_t xdr_chain_link_first(XDR *xdrs, void *first, const chain_layout *l)
{
    switch (xdrs->x_op) {
    case XDR_ENCODE: {
        /* Entries go last node first. The nodes are gathered on the way
         * through the flags and sent from the end of that array; without
         * memory for it, the chain is turned round, sent and turned back, so
         * the caller's chain is unchanged whatever happens. */
        void **nodes = NULL;
        size_t count = 0, cap = 0;
        bool_t gather = TRUE, ok = TRUE;
        for (void *n = first; n != NULL; n = next_of(n, l)) {
            bool_t more = next_of(n, l) != NULL;
            if (!xdr_bool(xdrs, &more)) {
                free(nodes);
                return FALSE;
            }
            if (gather && count == cap) {
                void **grown = realloc(nodes, (cap = cap == 0 ? 64 : 2 * cap) * sizeof *nodes);
                if (grown == NULL) {
                    free(nodes);
                    nodes = NULL;
                    gather = FALSE;
                } else {
                    nodes = grown;
                }
            }
            if (gather)
                nodes[count++] = n;
        }
        if (gather) {
            while (count > 0 && ok)
                ok = entry_op(xdrs, nodes[--count], l);
            free(nodes);
            return ok;
        }
        void *last = reverse(first, l);
        for (void *n = last; n != NULL && ok; n = next_of(n, l))
            ok = entry_op(xdrs, n, l);
        reverse(last, l);
        return ok;
    }
    case XDR_DECODE: {
        unsigned long more = 0;
        for (;;) {
            bool_t flag;
            if (!xdr_bool(xdrs, &flag))
                return FALSE;
            if (!flag)
                break;
            ++more;
        }
        /* The first entry on the wire belongs to the last node: building the
         * chain by prepending puts the nodes in chain order. */
        void *rest = NULL;
        for (unsigned long i = 0; i < more; ++i) {
            void *n = calloc(1, l->node_size);
            if (n == NULL || !entry_op(xdrs, n, l)) {
                if (n != NULL) {
                    set_next(n, l, rest);
                    rest = n;
                }
                free_nodes(rest, l);
                return FALSE;
            }
            set_next(n, l, rest);
            rest = n;
        }
        set_next(first, l, rest);
        return entry_op(xdrs, first, l);
    }
    case XDR_FREE:
        return free_chain(xdrs, first, l);
    }
    return FALSE;
}

bool_t xdr_chain_link_last(XDR *xdrs, void *first, const chain_layout *l)
{
    switch (xdrs->x_op) {
    case XDR_ENCODE:
        for (void *n = first; n != NULL; n = next_of(n, l)) {
            bool_t more = next_of(n, l) != NULL;
            if (!entry_op(xdrs, n, l) || !xdr_bool(xdrs, &more))
                return FALSE;
        }
        return TRUE;
    case XDR_DECODE: {
        void *n = first;
        set_next(n, l, NULL);
        for (;;) {
            bool_t more;
            if (!entry_op(xdrs, n, l) || !xdr_bool(xdrs, &more))
                break;
            if (!more)
                return TRUE;
            void *nx = calloc(1, l->node_size);
            if (nx == NULL)
                break;
            set_next(n, l, nx);
            n = nx;
        }
        free_nodes(next_of(first, l), l);
        set_next(first, l, NULL);
        return FALSE;
    }
    case XDR_FREE:
        return free_chain(xdrs, first, l);
    }
    return FALSE;
}

bool_t xdr_released_on_failure(XDR *xdrs, void *objp, xdrproc_t fields)
{
    if (fields(xdrs, objp))
        return TRUE;
    if (xdrs->x_op == XDR_DECODE) {
        XDR fx;
        fx.x_op = XDR_FREE;
        fields(&fx, objp);
    }
    return FALSE;
}

/* The two lists of the common types. */
static bool_t xdr_text101(XDR *xdrs, char *text) { return xdr_opaque(xdrs, text, 101); }

CHAIN_XDR_DEFINE(link_first, str10_ll, next, value, xdr_str10)
CHAIN_XDR_DEFINE(link_first, text_ll, next, text, xdr_text101)
