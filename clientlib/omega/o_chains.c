/* XDR routines of the omega list nodes and of the answers that own heap
 * memory. Generated code would walk a chain by recursion, one stack frame
 * chain per element, so a long answer could overflow the stack; the nodes use
 * the iterative codecs of chain_xdr.c under the names the generated records
 * call. */
#include "chain_xdr.h"
#include "omega.h"

/* Link first: every presence flag, then the entries last to first. */
CHAIN_XDR_DEFINE(link_first, o_user_ll, next, entry, xdr_o_user)
CHAIN_XDR_DEFINE(link_first, o_faxg_ll, next, entry, xdr_o_faxg)
CHAIN_XDR_DEFINE(link_first, o_faxl_ll, next, entry, xdr_o_faxl)
CHAIN_XDR_DEFINE(link_first, o_faxl_new_ll, next, entry, xdr_o_faxl_new)
CHAIN_XDR_DEFINE(link_first, o_printer_ll, next, entry, xdr_o_printer)
CHAIN_XDR_DEFINE(link_first, o_alpha_ll, next, entry, xdr_o_alpha)
CHAIN_XDR_DEFINE(link_first, o_theta_ll, next, entry, xdr_o_theta)
CHAIN_XDR_DEFINE(link_first, o_pi_ll, next, entry, xdr_o_pi)
CHAIN_XDR_DEFINE(link_first, o_group_ll, next, entry, xdr_o_group)
CHAIN_XDR_DEFINE(link_first, o_groupl_ll, next, entry, xdr_o_groupl)
CHAIN_XDR_DEFINE(link_first, o_group_member_ll, next, entry, xdr_o_group_member)
CHAIN_XDR_DEFINE(link_first, o_route_ll, next, entry, xdr_o_route)
CHAIN_XDR_DEFINE(link_first, o_route_new_ll, next, entry, xdr_o_route_new)
CHAIN_XDR_DEFINE(link_first, o_tele_ll, next, entry, xdr_o_tele)
CHAIN_XDR_DEFINE(link_first, o_tebu_ll, next, entry, xdr_o_tebu)
CHAIN_XDR_DEFINE(link_first, o_tebul_ll, next, entry, xdr_o_tebul)
CHAIN_XDR_DEFINE(link_first, o_tgroup_ll, next, entry, xdr_o_tgroup)
CHAIN_XDR_DEFINE(link_first, o_tgroupl_ll, next, entry, xdr_o_tgroupl)
CHAIN_XDR_DEFINE(link_first, o_muser_ll, next, entry, xdr_o_muser)
CHAIN_XDR_DEFINE(link_first, o_gwuser_ll, next, entry, xdr_o_gwuser)
CHAIN_XDR_DEFINE(link_first, o_reply_addr_ll, next, entry, xdr_o_reply_addr)
CHAIN_XDR_DEFINE(link_first, o_config_ll, next, entry, xdr_o_config)
CHAIN_XDR_DEFINE(link_first, o_verteiler_alpha, next, entry, xdr_o_verteiler_alpha_entry)

/* Link last: each entry, then its link; nodes in chain order. */
CHAIN_XDR_DEFINE(link_last, mu_count_ll, next, entry, xdr_mu_count_ll_entry)

/* Answers that own heap memory release it when they fail to decode. */
#define OWNING_ANSWER_XDR(name) XDR_RELEASED_ON_FAILURE(name, xdr_##name##_fields)

OWNING_ANSWER_XDR(o_get_user_ll_o)
OWNING_ANSWER_XDR(o_get_faxg_ll_o)
OWNING_ANSWER_XDR(o_get_faxl_ll_o)
OWNING_ANSWER_XDR(o_get_printer_ll_o)
OWNING_ANSWER_XDR(o_get_alpha_ll_o)
OWNING_ANSWER_XDR(o_get_theta_ll_o)
OWNING_ANSWER_XDR(o_get_pi_ll_o)
OWNING_ANSWER_XDR(o_get_group_ll_o)
OWNING_ANSWER_XDR(o_get_groupl_ll_o)
OWNING_ANSWER_XDR(o_get_group_member_ll_o)
OWNING_ANSWER_XDR(o_get_route_ll_o)
OWNING_ANSWER_XDR(o_get_tele_ll_o)
OWNING_ANSWER_XDR(o_get_tebu_ll_o)
OWNING_ANSWER_XDR(o_get_tebul_ll_o)
OWNING_ANSWER_XDR(o_get_tgroup_ll_o)
OWNING_ANSWER_XDR(o_get_tgroupl_ll_o)
OWNING_ANSWER_XDR(o_get_mu_ll_o)
OWNING_ANSWER_XDR(o_get_route_new_ll_o)
OWNING_ANSWER_XDR(o_get_faxl_new_ll_o)
OWNING_ANSWER_XDR(o_get_gwuser_ll_o)
OWNING_ANSWER_XDR(o_get_reply_addr_ll_o)
OWNING_ANSWER_XDR(o_get_config_ll_o)
OWNING_ANSWER_XDR(o_get_kzg_o)
OWNING_ANSWER_XDR(o_make_verteiler_o)
OWNING_ANSWER_XDR(o_configdata_new)
