# Every warning flag of the project lives here, behind one switch for -Werror.
set(DIALCRED_WARNINGS -Wall -Wextra -Wshadow -Wformat=2)
if(DIALCRED_WERROR)
  list(APPEND DIALCRED_WARNINGS -Werror)
endif()

# Generated rpcgen code uses 'register' and leaves locals unused; it is
# compiled as C with these milder flags.
set(DIALCRED_GENERATED_WARNINGS -Wall -Wno-unused-variable -Wno-unused-parameter
    -Wno-cast-function-type)

if(DIALCRED_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

function(dialcred_warnings target)
  target_compile_options(${target} PRIVATE ${DIALCRED_WARNINGS})
endfunction()
