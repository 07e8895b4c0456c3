# Installs the build into a scratch prefix and runs the installed korawin1-db: it must find the
# environment file installed beside it, which folds Cyrillic case, so that "Бить" and "бить"
# are one identifier. Without the file the two would be imported side by side.
#   cmake -DBUILD=... -DWORK=... -P install_test.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(tool ${WORK}/prefix/bin/korawin1-db)
if(NOT EXISTS ${tool} OR NOT EXISTS ${WORK}/prefix/bin/korawin1.ENV)
  message(FATAL_ERROR "the install lacks korawin1-db or korawin1.ENV beside it")
endif()
execute_process(COMMAND ${tool} create ${WORK}/db RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed korawin1-db create: ${rc} ${err}")
endif()
file(WRITE ${WORK}/cards.json "[{\"I_VERB\": \"Бить\"}, {\"I_VERB\": \"бить\"}]\n")
execute_process(COMMAND ${tool} import ${WORK}/db ${WORK}/cards.json
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORK})
if(NOT rc EQUAL 1 OR NOT err MATCHES "already taken")
  message(FATAL_ERROR "the installed tool did not fold Cyrillic case (exit ${rc}): ${out}${err}")
endif()
