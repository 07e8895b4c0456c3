# korawin1-db, the command-line tool: one source per subcommand.
find_package(nlohmann_json REQUIRED)
add_executable(korawin1-db
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/sample.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/create.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/import.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/repair.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/prepare_abc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/move_examples.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/demo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/rebuild_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/dump.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/select.cpp)
target_link_libraries(korawin1-db PRIVATE korawin_app_folder korawin_dat korawin_app_procedures
                      korawin_view korawin_lang nlohmann_json::nlohmann_json)
korawin_target(korawin1-db)
# The program's reports, made without a display: where the Qt page renderer is built.
if(TARGET korawin_ui_print AND TARGET korawin_app_gui)
  target_sources(korawin1-db PRIVATE ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/report.cpp)
  target_link_libraries(korawin1-db PRIVATE korawin_app_gui korawin_ui_print)
  target_compile_definitions(korawin1-db PRIVATE KORAWIN_DB_REPORT=1)
endif()
