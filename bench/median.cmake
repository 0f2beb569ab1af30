# Median filter throughput: a timing program over a raw channel file; median_vs_scipy.py
# runs it next to scipy.ndimage.median_filter on the same data and prints the ratio.
add_executable(median_bench ${CMAKE_CURRENT_LIST_DIR}/median_bench.cpp)
target_link_libraries(median_bench PRIVATE ztr_median ztr_common)
