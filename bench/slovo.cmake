# SLOVO-shaped workload on the DAT driver and the view engine against SQLite in the same run.
add_executable(slovo_bench ${CMAKE_CURRENT_LIST_DIR}/slovo_bench.cpp)
target_link_libraries(slovo_bench PRIVATE korawin_bench_data korawin_dat korawin_view korawin_lang)
korawin_target(slovo_bench)
