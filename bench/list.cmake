# The program's lexeme list on a large database, headless: reload and count beside the view
# engine's own count.
add_executable(list_bench ${CMAKE_CURRENT_LIST_DIR}/list_bench.cpp)
target_link_libraries(list_bench PRIVATE korawin_bench_data korawin_app_gui)
korawin_target(list_bench)
