# One interface target that carries the language standard, the warnings and the sanitizers,
# so every library, test and benchmark is built the same way.
add_library(mb_common INTERFACE)
target_compile_features(mb_common INTERFACE cxx_std_20)
target_include_directories(mb_common INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(mb_common INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(MB_WERROR)
    target_compile_options(mb_common INTERFACE -Werror)
endif()
if(MB_SANITIZE)
    target_compile_options(mb_common INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(mb_common INTERFACE -fsanitize=address,undefined)
endif()
if(MB_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "MB_FUZZ needs clang: configure with CC=clang CXX=clang++")
    endif()
    # Coverage feedback for every library; the fuzz targets themselves link libFuzzer's main.
    target_compile_options(mb_common INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    target_link_options(mb_common INTERFACE -fsanitize=address,undefined)
endif()
