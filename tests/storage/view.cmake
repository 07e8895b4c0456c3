# View engine tests over an in-memory driver.
korawin_test(view_test
  SOURCES view_pipeline_test.cpp view_join_test.cpp view_model_test.cpp view_memory_driver.cpp
  DEPS korawin_view)
# The view engine over the DAT driver.
korawin_test(view_dat_test
  SOURCES view_dat_test.cpp
  DEPS korawin_view korawin_dat)
