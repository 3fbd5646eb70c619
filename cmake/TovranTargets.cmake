# Helpers for the project's targets.

# The shipped code (libraries and programs, not tests, tools, benchmarks or
# fuzz targets) is also held to -Wconversion and -Wshadow; with
# TOVRAN_WERROR, as continuous integration builds it, they fail the build.
function(tovran_shipped)
  foreach(target IN LISTS ARGN)
    # Clang's -Wconversion also warns on sign changes, which GCC's leaves to
    # -Wsign-conversion; both compilers are held to GCC's meaning.
    target_compile_options(${target} PRIVATE -Wconversion -Wshadow
      $<$<CXX_COMPILER_ID:Clang>:-Wno-sign-conversion>)
  endforeach()
endfunction()

# A GoogleTest executable and its cases for ctest:
#   tovran_add_test(NAME SOURCES file... [LIBRARIES target...]
#                   [DEFINITIONS def...] [DEPENDS target...]
#                   [TIMEOUT seconds] [LABELS label...])
# It links the test support library and gtest_main besides LIBRARIES, waits
# for the DEPENDS targets (programs it runs), and registers every case with
# the timeout given (300 s unless said otherwise).
function(tovran_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "TIMEOUT" "SOURCES;LIBRARIES;DEFINITIONS;DEPENDS;LABELS")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tovran_add_test(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tovran_test_support ${ARG_LIBRARIES} GTest::gtest_main)
  if(ARG_DEFINITIONS)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  set(properties TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
