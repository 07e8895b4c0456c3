# The DAT driver's data file, journal, dispatch and trace.
korawin_library(korawin_dat
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/dat_header.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_keys.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_station.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_check.cpp
    ${CMAKE_CURRENT_LIST_DIR}/journal.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dat_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/halt.cpp
  DEPS korawin_dat_io korawin_dat_keys korawin_dat_memo)
# BUILD sorts the next key's entries on a thread of its own while it writes the one before.
find_package(Threads REQUIRED)
target_link_libraries(korawin_dat PRIVATE Threads::Threads)
