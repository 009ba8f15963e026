# Project-wide warning flags, applied through the orl_warnings interface target.
add_library(orl_warnings INTERFACE)
target_compile_options(orl_warnings INTERFACE -Wall -Wextra -Wshadow)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports -Wrestrict inside libstdc++ when std::string's operator+ with a literal
    # is inlined at -O2 ("_" + std::to_string(n)): GCC bug 105329, a false positive.
    target_compile_options(orl_warnings INTERFACE -Wno-restrict)
endif()
if(ORL_WERROR)
    target_compile_options(orl_warnings INTERFACE -Werror)
endif()
