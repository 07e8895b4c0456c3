# Compile and evaluate arbitrary expression texts. Run, for example:
#   build-fuzz/fuzz/lang_fuzz -max_total_time=60 fuzz/corpus/lang
korawin_fuzz(lang_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lang_fuzz.cpp
  DEPS korawin_lang)
# Coverage feedback from the evaluator itself, not only from the target.
foreach(lib korawin_lang korawin_platform)
  target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endforeach()
