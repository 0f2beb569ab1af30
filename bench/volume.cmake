# Serialization of the volume record against a plain memory copy of the same bytes.
add_executable(bench_volume_serialize ${CMAKE_CURRENT_SOURCE_DIR}/volume_serialize_bench.cpp)
target_link_libraries(bench_volume_serialize PRIVATE ztr_volume benchmark::benchmark ztr_common)
