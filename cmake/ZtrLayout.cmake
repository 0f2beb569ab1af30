# How the tree is put together: every subsystem folder named here must exist, and each library
# publishes only its own headers, so that a target sees the headers of the libraries it links
# and nothing else (a lower layer cannot include a higher one).

# Adds a subsystem folder; a missing folder or CMakeLists.txt fails the configure step.
function(ztr_add_subdirectory dir)
  if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    message(FATAL_ERROR "subsystem folder ${CMAKE_CURRENT_SOURCE_DIR}/${dir} has no CMakeLists.txt")
  endif()
  add_subdirectory(${dir})
endfunction()

# A subsystem that is planned but not written yet: added once its folder exists, and named in
# the configure output until then.
function(ztr_add_planned_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  else()
    message(STATUS "Planned subsystem not present yet: ${dir}")
  endif()
endfunction()

# ztr_public_headers(target path...): gives `target` an include root in the build tree that
# holds only `path`s (folders or headers, relative to the source root) under their usual
# names, e.g. build/include/ztr_volume/sdk/volume -> <source>/sdk/volume.
function(ztr_public_headers target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(path ${ARGN})
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${path})
      message(FATAL_ERROR "${target}: public header path ${path} does not exist")
    endif()
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
