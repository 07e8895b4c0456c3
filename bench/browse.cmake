# The lexeme list's browse over SLOVO-shaped cards, against the view engine's own first page.
add_executable(browse_bench ${CMAKE_CURRENT_LIST_DIR}/browse_bench.cpp)
target_link_libraries(browse_bench PRIVATE korawin_bench_data korawin_framework korawin_dat
                      korawin_view korawin_lang)
korawin_target(browse_bench)
