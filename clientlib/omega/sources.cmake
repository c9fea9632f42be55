# The omega library beyond the route and configuration wrappers: the list
# node codecs, the fax table wrapper families, and the record printers and
# readers. The process debug level lives with the common part, which every
# library and program links.
target_sources(omegaclnt PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/o_chains.c
  ${CMAKE_CURRENT_LIST_DIR}/o_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/otools.cpp)
target_sources(rpccommon PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../common/utDebug.cpp)
