# Test helpers: one GoogleTest executable per group, each test case registered with CTest.
find_package(GTest REQUIRED)
include(GoogleTest)

# ztr_add_gtest(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [TIMEOUT s])
# Every test program links the shared test support (tests/support).
function(ztr_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ztr_test_support GTest::gtest GTest::gtest_main
                        ztr_common)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# ztr_add_gtests_in(prefix LIBS lib1 lib2 [DATA_DIR]): one test program <prefix>_<file> per
# *_test.cpp file in the calling folder. DATA_DIR gives each one ZTR_TEST_DATA_DIR, the
# folder's data/ subfolder.
function(ztr_add_gtests_in prefix)
  cmake_parse_arguments(ARG "DATA_DIR" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    ztr_add_gtest(${prefix}_${name} SOURCES ${src} LIBS ${ARG_LIBS})
    if(ARG_DATA_DIR)
      target_compile_definitions(${prefix}_${name} PRIVATE
                                 ZTR_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
    endif()
  endforeach()
endfunction()
