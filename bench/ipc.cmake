# Whole-volume round trip host -> client -> host over the boards against memcpy of the same
# bytes (a 128x128x60x31 signed 16-bit volume); prints both rates and their ratio.
add_executable(ipc_roundtrip_bench ${CMAKE_CURRENT_LIST_DIR}/ipc_roundtrip_bench.cpp)
target_link_libraries(ipc_roundtrip_bench PRIVATE ztr_host ztr_ipc ztr_common)
