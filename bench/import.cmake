# korawin1-db import, run as a process of its own, against the engine's bulk ADD in the same run.
add_executable(import_bench ${CMAKE_CURRENT_LIST_DIR}/import_bench.cpp)
target_link_libraries(import_bench PRIVATE korawin_bench_data korawin_app_procedures korawin_dat)
target_compile_definitions(import_bench PRIVATE KORAWIN_DB_TOOL="$<TARGET_FILE:korawin1-db>")
add_dependencies(import_bench korawin1-db)
korawin_target(import_bench)
