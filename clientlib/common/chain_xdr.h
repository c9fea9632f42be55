/* Iterative codecs for the lists of both RPC programs.
 *
 * A list is a chain of separately allocated nodes. Generated XDR code walks
 * it by recursion, one stack frame chain per element, so a long answer can
 * overflow the stack. These routines produce the same bytes with loops and
 * allocate a node only once its entry has arrived, so a stream of presence
 * flags with nothing behind them costs no memory. On a failed decode they
 * release everything they allocated. */
#ifndef CHAIN_XDR_H
#define CHAIN_XDR_H

#include <rpc/rpc.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Layout of one node type: size, offset of the link, offset of the entry and
 * the entry's routine (which sees a pointer to the entry). */
typedef struct chain_layout {
    size_t node_size;
    size_t next_off;
    size_t entry_off;
    xdrproc_t entry;
} chain_layout;

/* Link first: every presence flag travels before the entries, and the
 * entries travel last node first. `first` is the node that xdr_pointer has
 * already allocated (or holds) for the head of the chain. */
bool_t xdr_chain_link_first(XDR *xdrs, void *first, const chain_layout *layout);

/* Link last: each entry, then its presence flag, in chain order. */
bool_t xdr_chain_link_last(XDR *xdrs, void *first, const chain_layout *layout);

/* Defines bool_t xdr_<node>(XDR *, node *) for a node type that holds a
 * link and one entry field. */
#define CHAIN_XDR_DEFINE(kind, node, next_field, entry_field, entry_proc)                          \
    bool_t xdr_##node(XDR *xdrs, node *objp)                                                       \
    {                                                                                              \
        static const chain_layout layout = {sizeof(node), offsetof(node, next_field),              \
                                            offsetof(node, entry_field), (xdrproc_t)(entry_proc)}; \
        return xdr_chain_##kind(xdrs, objp, &layout);                                              \
    }

/* A client stub keeps its answer in static storage and returns nothing when
 * the answer fails to decode, so whatever the decode had allocated would be
 * lost at the stub's next call. This runs `fields` and, when a decode fails,
 * releases at once what it allocated (fields not reached are still zero and
 * release nothing). */
bool_t xdr_released_on_failure(XDR *xdrs, void *objp, xdrproc_t fields);

/* Defines bool_t xdr_<name>(XDR *, name *) as fields_proc released on a
 * failed decode. */
#define XDR_RELEASED_ON_FAILURE(name, fields_proc)                            \
    bool_t xdr_##name(XDR *xdrs, name *objp)                                  \
    {                                                                         \
        return xdr_released_on_failure(xdrs, objp, (xdrproc_t)(fields_proc)); \
    }

#ifdef __cplusplus
}
#endif

#endif
