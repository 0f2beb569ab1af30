# Fiber tracking: engine steps per second and the region marking of 100,000 lines on the
# phantom (fibetrak_bench), and dtitrack side by side with MRtrix3's tckgen Tensor_Det on the
# same data, seed region, seed count and threads (fibetrak_vs_mrtrix.sh).
add_executable(fibetrak_bench ${CMAKE_CURRENT_LIST_DIR}/fibetrak_bench.cpp)
target_link_libraries(fibetrak_bench PRIVATE ztr_fibetrak ztr_dti ztr_common)
