# The full list report of many cards made by its procedure into a PDF file, its progress and
# its cancel, and the text viewer on a large file.
if(TARGET korawin_ui_print AND TARGET korawin_app_gui)
  add_executable(print_bench ${CMAKE_CURRENT_LIST_DIR}/print_bench.cpp)
  target_link_libraries(print_bench PRIVATE korawin_bench_data korawin_app_gui korawin_ui_print)
  korawin_target(print_bench)
endif()
