# Pages of a list report laid out and drawn into a PDF file, against plain QPainter text.
if(TARGET korawin_ui_print)
  add_executable(report_bench ${CMAKE_CURRENT_LIST_DIR}/report_bench.cpp)
  target_link_libraries(report_bench PRIVATE korawin_ui_print)
  korawin_reports(report_bench FUNCTION RegisterBenchReports HEADER bench/bench_reports.h
    FILES reports/list_bench.json)
  korawin_target(report_bench)
endif()
