# Third-party parts. Linux: Debian's packages. Windows (cross build): the same
# Debian headers of spdlog, fmt and nlohmann-json used header-only, and
# tinyxml2 compiled from Debian's source package fetched into the build tree.

find_package(Threads REQUIRED)

if(WIN32)
  # Expose only spdlog's and fmt's folders of the host's include tree to the
  # cross compiler: the rest of /usr/include belongs to the host's C library.
  set(_third ${CMAKE_BINARY_DIR}/thirdparty/include)
  file(MAKE_DIRECTORY ${_third})
  foreach(_dir spdlog fmt nlohmann)
    if(NOT EXISTS /usr/include/${_dir})
      message(FATAL_ERROR "/usr/include/${_dir} is missing: run scripts/install-deps.sh")
    endif()
    if(NOT EXISTS ${_third}/${_dir})
      file(CREATE_LINK /usr/include/${_dir} ${_third}/${_dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(halvex_spdlog INTERFACE)
  target_include_directories(halvex_spdlog SYSTEM INTERFACE ${_third})
  target_compile_definitions(halvex_spdlog INTERFACE FMT_HEADER_ONLY)
  add_library(halvex_json INTERFACE)
  target_include_directories(halvex_json SYSTEM INTERFACE ${_third})
  add_library(nlohmann_json::nlohmann_json ALIAS halvex_json)

  set(HALVEX_TINYXML2_DIR ${CMAKE_BINARY_DIR}/thirdparty/tinyxml2)
  if(NOT EXISTS ${HALVEX_TINYXML2_DIR}/tinyxml2.cpp)
    execute_process(
      COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-tinyxml2-source.sh ${HALVEX_TINYXML2_DIR}
      RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "could not fetch tinyxml2's Debian source package")
    endif()
  endif()
  add_library(tinyxml2_static STATIC ${HALVEX_TINYXML2_DIR}/tinyxml2.cpp)
  target_include_directories(tinyxml2_static SYSTEM PUBLIC ${HALVEX_TINYXML2_DIR})
  add_library(tinyxml2::tinyxml2 ALIAS tinyxml2_static)
else()
  find_package(fmt REQUIRED)
  find_package(spdlog REQUIRED)
  # Header-only here too: the logger's threads are then compiled with our
  # sanitizer flags, so ThreadSanitizer sees their synchronisation.
  add_library(halvex_spdlog INTERFACE)
  target_link_libraries(halvex_spdlog INTERFACE spdlog::spdlog_header_only)
  find_package(tinyxml2 REQUIRED)
  find_package(nlohmann_json REQUIRED)
  if(HALVEX_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
  if(HALVEX_BUILD_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()
