# Keypad code library: pure computation, no external dependencies, so main
# and the unit tests link the same object.
add_library(pinpw2t STATIC ${CMAKE_CURRENT_LIST_DIR}/pinpw2t.cpp)
target_include_directories(pinpw2t PUBLIC ${CMAKE_CURRENT_LIST_DIR})
dialcred_warnings(pinpw2t)
