include_guard(GLOBAL)

# halvex_fuzz_target(<name> SOURCES ... DEPS ... CORPUS <folder>)
# Under HALVEX_BUILD_FUZZERS (clang) a libFuzzer program; otherwise the same
# target linked with a replay driver that runs every file of the seed corpus
# once, registered as a test.
function(halvex_fuzz_target name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  if(HALVEX_BUILD_FUZZERS)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address)
  else()
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(HALVEX_BUILD_TESTS)
      add_test(NAME ${name}.corpus_replay COMMAND ${name} ${ARG_CORPUS})
    endif()
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  halvex_warnings(${name})
endfunction()
