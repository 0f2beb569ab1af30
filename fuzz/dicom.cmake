# DICOM element scanner: arbitrary bytes as a file image, searched for the elements the
# directory import reads.
ztr_add_fuzzer(fuzz_dicom_scanner SOURCES ${CMAKE_CURRENT_LIST_DIR}/dicom_scanner_fuzz.cpp
               LIBS ztr_io)
