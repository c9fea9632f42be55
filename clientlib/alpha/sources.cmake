# The alpha library beyond the usrconf, log and clock wrappers: the list node
# codecs and the wrapper families of the whole program. The records that the
# alpha program shares with omega are declared in omega.x, so their XDR
# routines are omegaclnt's.
target_sources(alphaclnt PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/a_chain_xdr.c
  ${CMAKE_CURRENT_LIST_DIR}/a_families.cpp
  ${CMAKE_CURRENT_LIST_DIR}/a_upload.cpp)
target_link_libraries(alphaclnt PUBLIC omegaclnt)
