# SLOVO-shaped workload on the DAT driver and the view engine against SQLite in the same run.
add_executable(slovo_bench ${CMAKE_CURRENT_LIST_DIR}/slovo_bench.cpp)
target_link_libraries(slovo_bench PRIVATE korawin_bench_data korawin_dat korawin_view korawin_lang
                      korawin_app_procedures)
# The import is timed as the user runs it: the command-line tool in a process of its own.
add_dependencies(slovo_bench korawin1-db)
target_compile_definitions(slovo_bench PRIVATE KORAWIN_DB_TOOL="$<TARGET_FILE:korawin1-db>")
korawin_target(slovo_bench)
