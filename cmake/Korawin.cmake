# Common settings for the project's own targets.

if(KORAWIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# korawin_target(TARGET): warnings on in our own code, and errors with KORAWIN_WERROR (the test
# command sets it; a packager's compiler may warn where ours does not).
function(korawin_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(KORAWIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# korawin_library(NAME SOURCES... [DEPS ...]): a static library of one subsystem.
function(korawin_library name)
  cmake_parse_arguments(KL "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${KL_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(KL_DEPS)
    target_link_libraries(${name} PUBLIC ${KL_DEPS})
  endif()
  korawin_target(${name})
endfunction()

# GoogleTest is needed only to build the tests.
if(KORAWIN_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# korawin_test(NAME SOURCES... DEPS ...): one GoogleTest program registered with CTest.
function(korawin_test name)
  cmake_parse_arguments(KT "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${KT_SOURCES})
  target_link_libraries(${name} PRIVATE ${KT_DEPS} GTest::gtest GTest::gtest_main)
  korawin_target(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${KT_LABELS}")
endfunction()
