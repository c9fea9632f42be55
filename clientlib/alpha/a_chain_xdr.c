/* Hand-written XDR routines of the alpha program: the list nodes, and the
 * answers that own heap memory. Generated code would walk a chain by
 * recursion, one stack frame chain per element, so a long answer could
 * overflow the stack; the nodes use the iterative codecs of chain_xdr.c
 * under the names the generated records call. */
#include "alpha.h"
#include "chain_xdr.h"

/* Link first: the whole rest of the chain before the node's own fields. */
CHAIN_XDR_DEFINE(link_first, a_usrconf_ll, next, entry, xdr_a_usrconf_ll_entry)
CHAIN_XDR_DEFINE(link_first, a_usrconf_new_ll, next, entry, xdr_a_usrconf_new)
CHAIN_XDR_DEFINE(link_first, a_board_entry, next, data, xdr_a_board_entry_data)
CHAIN_XDR_DEFINE(link_first, a_e_rec_new_ll, next, entry, xdr_a_e_rec_new)
CHAIN_XDR_DEFINE(link_first, a_s_rec_new_ll, next, entry, xdr_a_s_rec_new)
CHAIN_XDR_DEFINE(link_first, a_sendjob_ll, next, entry, xdr_a_sendjob)
CHAIN_XDR_DEFINE(link_first, a_g_dok_ll, next, name, xdr_str20)

/* Link last: the node's fields, then the link; nodes in chain order. */
CHAIN_XDR_DEFINE(link_last, a_e_rec_ll, next, entry, xdr_a_e_rec)
CHAIN_XDR_DEFINE(link_last, a_p_rec_ll, next, entry, xdr_a_p_rec)
CHAIN_XDR_DEFINE(link_last, a_s_rec_ll, next, entry, xdr_a_s_rec)

/* Answers that own heap memory release it when they fail to decode. */
static bool_t xdr_page_dat_bytes(XDR *xdrs, page_dat *objp)
{
    return xdr_counted_bytes(xdrs, &objp->page_dat_val, &objp->page_dat_len, ~0u);
}

XDR_RELEASED_ON_FAILURE(page_dat, xdr_page_dat_bytes)
XDR_RELEASED_ON_FAILURE(a_usrconf_ll_o, xdr_a_usrconf_ll_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_usrconf_new_ll_o, xdr_a_get_usrconf_new_ll_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_board_o, xdr_a_get_board_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_sendjob_ll_o, xdr_a_get_sendjob_ll_o_fields)
XDR_RELEASED_ON_FAILURE(a_fetch_result_o, xdr_a_fetch_result_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_e_o, xdr_a_get_e_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_e_rec_new_ll_o, xdr_a_get_e_rec_new_ll_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_kzg_o, xdr_a_get_kzg_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_logb_o, xdr_a_get_logb_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_logl_o, xdr_a_get_logl_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_p_o, xdr_a_get_p_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_pageb_o, xdr_a_get_pageb_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_s_o, xdr_a_get_s_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_sigb_o, xdr_a_get_sigb_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_s_rec_new_ll_o, xdr_a_get_s_rec_new_ll_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_frei_ll_o, xdr_a_get_frei_ll_o_fields)
XDR_RELEASED_ON_FAILURE(a_get_group_o, xdr_a_get_group_o_fields)
