# Installs the build into a scratch prefix and checks what a desktop needs of the program: the
# program with the environment file beside it, its desktop entry (valid, in the Office and
# Dictionary categories) and its icon; the installed program answers --version.
#   cmake -DBUILD=... -DWORK=... -DVALIDATE=desktop-file-validate -P install_test.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(p ${WORK}/prefix)
foreach(f bin/korawin1 bin/korawin1-db bin/korawin1.ENV share/applications/korawin1.desktop
          share/icons/hicolor/scalable/apps/korawin1.svg)
  if(NOT EXISTS ${p}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()
execute_process(COMMAND ${VALIDATE} ${p}/share/applications/korawin1.desktop
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "desktop entry: ${out}${err}")
endif()
file(READ ${p}/share/applications/korawin1.desktop entry)
if(NOT entry MATCHES "Categories=Office;Dictionary;" OR NOT entry MATCHES "Name\\[ru\\]=")
  message(FATAL_ERROR "desktop entry lacks its categories or Russian name")
endif()
execute_process(COMMAND ${p}/bin/korawin1 --version RESULT_VARIABLE rc OUTPUT_VARIABLE out)
file(REMOVE_RECURSE ${WORK})
if(NOT rc EQUAL 0 OR NOT out MATCHES "^korawin1 [0-9]")
  message(FATAL_ERROR "installed korawin1 --version: ${rc} ${out}")
endif()
