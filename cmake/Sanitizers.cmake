# ASan + UBSan for the whole build (ORL_SANITIZE) and the libFuzzer flags (ORL_FUZZ).
if(ORL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(ORL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ORL_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    # Instrument the engine for coverage; the harness executables add -fsanitize=fuzzer.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
