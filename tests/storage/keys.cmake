korawin_test(key_file_test
  SOURCES key_codec_test.cpp key_collation_test.cpp key_file_test.cpp key_random_test.cpp
  DEPS korawin_dat_keys)
target_compile_definitions(key_file_test PRIVATE KORAWIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
