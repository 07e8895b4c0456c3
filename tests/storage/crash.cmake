# Crash recovery, injected I/O faults and two stations on one folder.
korawin_test(crash_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crash_test.cpp
  DEPS korawin_dat korawin_dat_check korawin_crash_harness)
korawin_test(fault_return_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fault_return_test.cpp
  DEPS korawin_dat korawin_dat_check korawin_fault_fs)
