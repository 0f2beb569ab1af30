# Region tests of the ROI objects per tracked node, against a lookup in a full voxel mask.
add_executable(bench_roi_region ${CMAKE_CURRENT_SOURCE_DIR}/roi_region_bench.cpp)
target_link_libraries(bench_roi_region PRIVATE ztr_objects benchmark::benchmark ztr_common)
