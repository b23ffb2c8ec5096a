# Sanitizer and fuzzing builds. VYX_SANITIZE selects one for the whole tree (plug-in bundle,
# tests, test host), so that a report points at the code that went wrong wherever it runs:
#   address  AddressSanitizer + UndefinedBehaviorSanitizer (GCC or Clang)
#   thread   ThreadSanitizer (GCC or Clang)
#   fuzzer   libFuzzer with AddressSanitizer + UndefinedBehaviorSanitizer (Clang only); adds
#            the fuzz targets in fuzz/
# Suppressions and runtime options live in tools/sanitizers/.

set(VYX_SANITIZE "" CACHE STRING "Sanitizer build: empty, address, thread or fuzzer")
set_property(CACHE VYX_SANITIZE PROPERTY STRINGS "" address thread fuzzer)

# The checks stay recoverable so that the suppressions file can name proven framework
# reports; tools/run-tests.sh sets UBSAN_OPTIONS=halt_on_error=1, so any other report ends
# the test that made it.
set(VYX_UBSAN_FLAGS
    -fsanitize=undefined
    -fsanitize=float-cast-overflow)

if(VYX_SANITIZE STREQUAL "")
    return()
elseif(VYX_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address ${VYX_UBSAN_FLAGS} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address ${VYX_UBSAN_FLAGS})
elseif(VYX_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(VYX_SANITIZE STREQUAL "fuzzer")
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VYX_SANITIZE=fuzzer needs Clang (libFuzzer): configure with "
                            "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Everything gets coverage instrumentation; only the fuzz targets link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address ${VYX_UBSAN_FLAGS} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address ${VYX_UBSAN_FLAGS})
else()
    message(FATAL_ERROR "Unknown VYX_SANITIZE value '${VYX_SANITIZE}': use address, thread or fuzzer")
endif()

# Sanitized code at -O0 is slow enough to make the audio tests crawl; -O1 keeps the stack
# traces readable and the reports exact, and line tables (-g1) are all a report needs. They
# must follow the framework's recommended flags, which give Debug builds -g -O0
# (VYX_LATE_COMPILE_OPTIONS, cmake/VyxJuce.cmake).
set(VYX_LATE_COMPILE_OPTIONS $<$<CONFIG:Debug>:-O1$<SEMICOLON>-g1>)
