# Warnings and helpers shared by every target of the project's own code.

function(halvex_warnings target)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# halvex_library(<name> SOURCES ... [DEPS ...])
# One static library per folder; its folder's parent (src/) is the include root,
# so headers are included as "logging/log_helper.h".
function(halvex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  halvex_warnings(${name})
endfunction()

# halvex_test(<name> SOURCES ... DEPS ... [ENVIRONMENT VAR=value ...]
#             [ENVIRONMENT_MODIFICATION VAR=op:value ...])
# Every case runs in a process of its own: the service's singletons live until
# the process ends.
function(halvex_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENVIRONMENT;ENVIRONMENT_MODIFICATION" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} halvex_testsupport GTest::gtest GTest::gmock)
  halvex_warnings(${name})
  set(_properties TIMEOUT 120)
  if(ARG_ENVIRONMENT)
    list(APPEND _properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_ENVIRONMENT_MODIFICATION)
    list(APPEND _properties ENVIRONMENT_MODIFICATION "${ARG_ENVIRONMENT_MODIFICATION}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${_properties})
endfunction()
