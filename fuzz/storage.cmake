# The storage engine's fuzz targets. Run, for example:
#   build-fuzz/fuzz/dat_fuzz -max_total_time=60 fuzz/corpus/dat
#   build-fuzz/fuzz/text_fuzz -max_total_time=60 fuzz/corpus/text
korawin_fuzz(dat_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dat_fuzz.cpp
  DEPS korawin_dat)
korawin_fuzz(text_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/text_fuzz.cpp
  DEPS korawin_text)
# Writes the data-file seeds: dat_seed WORKDIR OUTDIR.
add_executable(dat_seed ${CMAKE_CURRENT_SOURCE_DIR}/dat_seed.cpp)
target_link_libraries(dat_seed PRIVATE korawin_dat)
target_link_options(dat_seed PRIVATE -fsanitize=address,undefined)
korawin_target(dat_seed)
foreach(lib korawin_dat korawin_dat_io korawin_dat_keys korawin_dat_memo korawin_storage
            korawin_text)
  target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endforeach()
