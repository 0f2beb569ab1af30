# IPC client: the object-group wire reader.
ztr_add_fuzzer(fuzz_object_group_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ipc_object_group_reader.cpp LIBS ztr_ipc)
