# Extra maps of a 30-16-1 network on the 128 x 128 x 60 phantom against the standard maps
# with the same threads, with the data's own table and through the B-space converter.
add_executable(rtnn_maps_bench ${CMAKE_CURRENT_LIST_DIR}/rtnn_maps_bench.cpp)
target_link_libraries(rtnn_maps_bench PRIVATE ztr_rtnn ztr_dti benchmark::benchmark ztr_common)
