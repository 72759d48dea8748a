# Storage engine and container object: physical files, page file, maps, directory, page maps.
bd_test(sfs_storage_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/storage_files_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_container_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_pagefile_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_maps_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_directory_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_password_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage_faults_test.cpp
  DEPS bd_sfs_storage bd_sfs_codecs bd_crypto
  LABELS storage
)

# The container commands of the sfs tool, run as a program.
if(TARGET sfs)
  bd_test(sfs_storage_tool_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/storage_tool_test.cpp
    LABELS storage
  )
  add_dependencies(sfs_storage_tool_test sfs)
endif()
