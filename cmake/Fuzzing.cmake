# Coverage-guided fuzzing (off by default): with RASTIK_FUZZ every library and
# tool is built with clang's fuzzer coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer, and fuzz/ adds one libFuzzer program per reader.
option(RASTIK_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
if(RASTIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "RASTIK_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
