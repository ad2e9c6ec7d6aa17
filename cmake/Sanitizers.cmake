if(QUORVALE_SANITIZE)
    set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_compile_options(${_san})
    add_link_options(-fsanitize=address,undefined)
endif()

if(QUORVALE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QUORVALE_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    # Everything gets coverage instrumentation so the fuzzers can steer into
    # the library code; only the fuzz executables link the libFuzzer driver.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
