# Common settings for the project's own targets.

if(KORAWIN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
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

# korawin_test(NAME SOURCES... DEPS ... [ENVIRONMENT VAR=VALUE...]): one GoogleTest program
# registered with CTest; its tests run with the given environment.
function(korawin_test name)
  cmake_parse_arguments(KT "" "" "SOURCES;DEPS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${KT_SOURCES})
  target_link_libraries(${name} PRIVATE ${KT_DEPS} GTest::gtest GTest::gtest_main)
  korawin_target(${name})
  # An empty property would swallow the next one's name: pass only those given.
  set(props)
  if(KT_LABELS)
    list(APPEND props LABELS "${KT_LABELS}")
  endif()
  if(KT_ENVIRONMENT)
    list(APPEND props ENVIRONMENT "${KT_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# korawin_windows(TARGET FUNCTION NAME HEADER PATH FILES...): checks the window descriptions
# FILES at build time and compiles them into TARGET; FUNCTION registers them, and the header
# PATH (relative to the generated include folder, e.g. "app/app_windows.h") names their
# controls.
function(korawin_windows target)
  cmake_parse_arguments(KW "" "FUNCTION;HEADER" "FILES" ${ARGN})
  set(gen ${PROJECT_BINARY_DIR}/gen)
  get_filename_component(hdir ${gen}/${KW_HEADER} DIRECTORY)
  get_filename_component(base ${KW_HEADER} NAME_WE)
  set(header ${gen}/${KW_HEADER})
  set(source ${hdir}/${base}.cpp)
  set(files)
  foreach(f ${KW_FILES})
    list(APPEND files ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
  file(MAKE_DIRECTORY ${hdir})
  add_custom_command(OUTPUT ${header} ${source}
    COMMAND korawin-wdc --cpp ${source} --header ${header} --function ${KW_FUNCTION} ${files}
    DEPENDS korawin-wdc ${files}
    COMMENT "Checking window descriptions for ${target}")
  target_sources(${target} PRIVATE ${source} ${header})
  target_include_directories(${target} PUBLIC ${gen})
  target_link_libraries(${target} PUBLIC korawin_ui)
endfunction()

# korawin_reports(TARGET FUNCTION NAME HEADER PATH FILES...): checks the report descriptions
# FILES at build time and compiles them into TARGET; FUNCTION registers them, and the header
# PATH names their detail bands (korawin::report_ids::<cname>::<Band>).
function(korawin_reports target)
  cmake_parse_arguments(KR "" "FUNCTION;HEADER" "FILES" ${ARGN})
  set(gen ${PROJECT_BINARY_DIR}/gen)
  get_filename_component(hdir ${gen}/${KR_HEADER} DIRECTORY)
  get_filename_component(base ${KR_HEADER} NAME_WE)
  set(header ${gen}/${KR_HEADER})
  set(source ${hdir}/${base}.cpp)
  set(files)
  foreach(f ${KR_FILES})
    list(APPEND files ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
  file(MAKE_DIRECTORY ${hdir})
  add_custom_command(OUTPUT ${header} ${source}
    COMMAND korawin-rdc --cpp ${source} --header ${header} --function ${KR_FUNCTION} ${files}
    DEPENDS korawin-rdc ${files}
    COMMENT "Checking report descriptions for ${target}")
  target_sources(${target} PRIVATE ${source} ${header})
  target_include_directories(${target} PUBLIC ${gen})
  target_link_libraries(${target} PUBLIC korawin_ui)
endfunction()
