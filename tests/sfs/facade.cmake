# The file access facade.
bd_test(test_sfs_facade
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/facade_test.cpp
  DEPS bd_sfs_facade
  LABELS tsan
  TIMEOUT 60)
