# Long runs of one value in a DUP key, against a sorted model.
korawin_test(key_dup_run_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/key_dup_run_test.cpp
  DEPS korawin_dat_keys)
# Tree depth under any insert order, against BUILD.
korawin_test(key_depth_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/key_depth_test.cpp
  DEPS korawin_dat_keys)
