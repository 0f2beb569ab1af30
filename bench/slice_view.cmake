# Re-sampling a slice view, the work behind every pointer step of a Ctrl-drag.
add_executable(slice_view_bench ${CMAKE_CURRENT_SOURCE_DIR}/slice_view_bench.cpp)
target_link_libraries(slice_view_bench PRIVATE ztr_app benchmark::benchmark ztr_common)
