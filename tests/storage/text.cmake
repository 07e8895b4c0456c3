korawin_test(text_driver_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_driver_test.cpp
  DEPS korawin_text)
