# Two stations (forked processes) at random on one shared keyed file with a memo.
korawin_test(two_station_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/two_station_test.cpp
  DEPS korawin_dat)
