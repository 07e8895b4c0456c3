# korawin1-db, the command-line tool: one source per subcommand.
find_package(nlohmann_json REQUIRED)
add_executable(korawin1-db
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korawin1_db/sample.cpp)
target_link_libraries(korawin1-db PRIVATE korawin_dat nlohmann_json::nlohmann_json)
korawin_target(korawin1-db)
