# Tests of the file streams, the compressed block stream and the facade's container archives.
bd_test(sfs_streams_test
  SOURCES
    streams_advanced_test.cpp
    streams_file_test.cpp
  DEPS bd_sfs_storage bd_sfs_codecs
)

bd_test(sfs_streams_archive_test
  SOURCES
    streams_archive_test.cpp
  DEPS bd_sfs_archive bd_sfs_storage bd_sfs_codecs
)

# Runs the built sfs tool (BD_BINARY_DIR/tools/sfs/sfs).
bd_test(sfs_streams_tool_test
  SOURCES
    streams_tool_test.cpp
  DEPS bd_sfs_storage bd_sfs_codecs
)
if(TARGET sfs)
  add_dependencies(sfs_streams_tool_test sfs)
endif()
