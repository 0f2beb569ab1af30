# Fuzz targets for the DTI core's readers: the MPG text file and the DTI file.
ztr_add_fuzzer(fuzz_mpg_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/dti_mpg_reader.cpp LIBS ztr_dti)
ztr_add_fuzzer(fuzz_dti_file_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/dti_file_reader.cpp LIBS ztr_dti)
