# Build conventions shared by every folder.
#
# folianto_add_component(<name> [DEPS <targets>...] [TEST_DEPS <targets>...])
#   The .cpp files of the calling folder become the static library folianto_<name>,
#   except *Test.cpp (one GoogleTest executable, <name>_tests) and *Fuzz.cpp
#   (one libFuzzer executable each, fuzz_<file stem>, built with FOLIANTO_FUZZ).
#   Sources are globbed so a new file needs no edit here.

set(FOLIANTO_WARNINGS -Wall -Wextra -Wpedantic -Wconversion -Wno-sign-conversion)
if(FOLIANTO_WERROR)
  list(APPEND FOLIANTO_WARNINGS -Werror)
endif()

if(FOLIANTO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(FOLIANTO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(folianto_add_component name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(lib_sources "")
  set(test_sources "")
  set(fuzz_sources "")
  foreach(src IN LISTS sources)
    if(src MATCHES "Test\\.cpp$")
      list(APPEND test_sources ${src})
    elseif(src MATCHES "Fuzz\\.cpp$")
      list(APPEND fuzz_sources ${src})
    else()
      list(APPEND lib_sources ${src})
    endif()
  endforeach()

  set(target folianto_${name})
  if(lib_sources)
    add_library(${target} STATIC ${lib_sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${target} PRIVATE ${FOLIANTO_WARNINGS})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose code has not been written yet still offers its headers and dependencies.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()

  if(FOLIANTO_TESTS AND test_sources)
    add_executable(${name}_tests ${test_sources})
    target_compile_options(${name}_tests PRIVATE ${FOLIANTO_WARNINGS})
    target_link_libraries(${name}_tests PRIVATE ${target} folianto_testsupport ${ARG_TEST_DEPS}
                          GTest::gtest GTest::gtest_main GTest::gmock)
    target_compile_definitions(${name}_tests PRIVATE
      FOLIANTO_TESTDATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/testdata")
    # The corpus folder is looked up when the tests run (testsupport::CorpusDir), not fixed here.
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()

  if(FOLIANTO_FUZZ)
    foreach(src IN LISTS fuzz_sources)
      get_filename_component(stem ${src} NAME_WE)
      add_executable(fuzz_${stem} ${src} ${PROJECT_SOURCE_DIR}/testsupport/FuzzMemoryLimit.cpp)
      target_link_libraries(fuzz_${stem} PRIVATE ${target} ${ARG_TEST_DEPS})
      target_link_options(fuzz_${stem} PRIVATE -fsanitize=fuzzer)
      set_target_properties(fuzz_${stem} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    endforeach()
  endif()
endfunction()
