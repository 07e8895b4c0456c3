# Tests of the DAT driver's data file, journal and dispatch.
korawin_test(dat_file_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dat_file_test.cpp
  DEPS korawin_dat)
korawin_test(dat_station_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dat_station_test.cpp
  DEPS korawin_dat)
korawin_test(dat_journal_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dat_journal_test.cpp
  DEPS korawin_dat korawin_fault_fs)
korawin_test(dat_keyed_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dat_keyed_test.cpp
  DEPS korawin_dat korawin_fault_fs)
