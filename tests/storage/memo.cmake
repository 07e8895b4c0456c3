korawin_test(memo_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/memo_test.cpp
  DEPS korawin_dat_memo)
