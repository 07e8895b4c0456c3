# Key files: B+-trees, key encoding and collation.
find_package(ICU REQUIRED COMPONENTS uc i18n)
korawin_library(korawin_dat_keys
  SOURCES collation.cpp key_codec.cpp page_cache.cpp key_file.cpp key_build.cpp
  DEPS korawin_dat_io ICU::uc ICU::i18n)
