# Codec layer, PPM coder, checksums and password header.
find_package(ZLIB REQUIRED)
find_package(BZip2 REQUIRED)
bd_test(codecs_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/codecs_checksum_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codecs_compression_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codecs_ppm_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codecs_password_test.cpp
  DEPS bd_sfs_codecs bd_crypto ZLIB::ZLIB BZip2::BZip2
  LABELS codecs
)

if(TARGET sfs)
  bd_test(codecs_cli_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/codecs_cli_test.cpp
    DEPS bd_sfs_codecs
    LABELS codecs
  )
  add_dependencies(codecs_cli_tests sfs)
endif()

bd_test(codecs_concurrency_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/codecs_concurrency_test.cpp
  DEPS bd_sfs_codecs
  LABELS codecs tsan
)
