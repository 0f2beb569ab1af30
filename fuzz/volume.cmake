# Fuzz target for the serialized volume reader (data boards and files go through it).
ztr_add_fuzzer(fuzz_volume_deserialize
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/volume_deserialize.cpp
  LIBS ztr_volume)
