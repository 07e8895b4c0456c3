# Memo files: chained 256-byte blocks holding the long text of a record.
korawin_library(korawin_dat_memo
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/memo_file.cpp
  DEPS korawin_dat_io)
