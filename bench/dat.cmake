# Record I/O of the DAT driver against plain pread/pwrite.
add_executable(dat_bench ${CMAKE_CURRENT_LIST_DIR}/dat_bench.cpp)
target_link_libraries(dat_bench PRIVATE korawin_dat)
korawin_target(dat_bench)
