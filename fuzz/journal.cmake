# The transaction journal's recovery at OPEN, fed arbitrary journals and markers. Run, e.g.:
#   build-fuzz/fuzz/journal_fuzz -max_total_time=60 fuzz/corpus/journal
korawin_fuzz(journal_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/journal_fuzz.cpp
  DEPS korawin_dat)
# Writes the journal seeds: journal_seed WORKDIR OUTDIR.
add_executable(journal_seed ${CMAKE_CURRENT_SOURCE_DIR}/journal_seed.cpp)
target_link_libraries(journal_seed PRIVATE korawin_dat)
target_link_options(journal_seed PRIVATE -fsanitize=address,undefined)
korawin_target(journal_seed)
