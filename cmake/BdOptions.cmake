# Project-wide compile settings: warnings and sanitizers.
add_library(bd_options INTERFACE)
target_compile_options(bd_options INTERFACE -Wall -Wextra -Wpedantic)
if(BD_WERROR)
  target_compile_options(bd_options INTERFACE -Werror)
endif()

if(BD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(BD_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# bd_library(name SOURCES ... DEPS ...): one static library per folder of src/.
function(bd_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  # Headers stay in the target's sources (AUTOMOC reads them); only compiled files decide
  # whether there is a library to build.
  set(compiled ${ARG_SOURCES})
  list(FILTER compiled INCLUDE REGEX "\\.(cpp|c)$")
  if(NOT compiled)
    # Nothing to compile yet: an interface target keeps the layers above linkable.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE bd_options ${ARG_PRIVATE_DEPS})
endfunction()
