# The card list reader against a general JSON parser: both must take and refuse the same texts
# and give the same values. Run, for example:
#   build-fuzz/fuzz/json_list_fuzz -max_total_time=60 fuzz/corpus/json_list
find_package(nlohmann_json REQUIRED)
korawin_fuzz(json_list_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_list_fuzz.cpp ${PROJECT_SOURCE_DIR}/app/json_list.cpp
  DEPS nlohmann_json::nlohmann_json)
target_include_directories(json_list_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
