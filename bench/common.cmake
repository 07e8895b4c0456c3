# Shared pieces of the benchmarks: generated SLOVO cards and the SQLite baseline.
find_package(SQLite3 REQUIRED)
add_library(korawin_bench_data STATIC slovo_gen.cpp sqlite_slovo.cpp)
target_link_libraries(korawin_bench_data PUBLIC korawin_app_files SQLite::SQLite3)
target_include_directories(korawin_bench_data PUBLIC ${PROJECT_SOURCE_DIR})
korawin_target(korawin_bench_data)
