# The database repair against one read of SLOVO along K_SLO, measured in the same run.
add_executable(repair_bench ${CMAKE_CURRENT_LIST_DIR}/repair_bench.cpp)
target_link_libraries(repair_bench PRIVATE korawin_bench_data korawin_app_procedures korawin_dat)
korawin_target(repair_bench)
