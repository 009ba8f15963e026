# Project-wide warning flags, applied through the orl_warnings interface target.
add_library(orl_warnings INTERFACE)
target_compile_options(orl_warnings INTERFACE -Wall -Wextra -Wshadow)
if(ORL_WERROR)
    target_compile_options(orl_warnings INTERFACE -Werror)
endif()
