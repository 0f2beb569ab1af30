# Standard DTI maps throughput on the phantom (1 and 2 threads) and the per-fit cost of the
# cached against the recomputed pseudo-inverse; dti_vs_dipy.py adds DIPY's TensorModel on
# the same data and cross-checks FA.
add_executable(dti_maps_bench ${CMAKE_CURRENT_LIST_DIR}/dti_maps_bench.cpp)
target_link_libraries(dti_maps_bench PRIVATE ztr_dti benchmark::benchmark ztr_common)
