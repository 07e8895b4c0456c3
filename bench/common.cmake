# Shared pieces of the benchmarks: generated SLOVO cards, the SQLite baseline and the
# command-line tool run in a process of its own.
find_package(SQLite3 REQUIRED)
add_library(korawin_bench_data STATIC slovo_gen.cpp sqlite_slovo.cpp tool_run.cpp)
target_link_libraries(korawin_bench_data PUBLIC korawin_app_files SQLite::SQLite3)
target_include_directories(korawin_bench_data PUBLIC ${PROJECT_SOURCE_DIR})
korawin_target(korawin_bench_data)
