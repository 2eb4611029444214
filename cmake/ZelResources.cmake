# zel_embed_resources(<target> ENTRIES <id>:<type>:<file> ...)
#
# Compiles the files into <target> as the program's own resources, found at run
# time with zel::platform::FindResource(id, type).
function(zel_embed_resources target)
  cmake_parse_arguments(ARG "" "" "ENTRIES" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  set(files)
  set(entries)
  foreach(entry IN LISTS ARG_ENTRIES)
    string(REGEX MATCH "^([0-9]+):([A-Za-z0-9_]+):(.+)$" _ ${entry})
    if(NOT CMAKE_MATCH_3)
      message(FATAL_ERROR "zel_embed_resources: bad entry '${entry}' (want id:TYPE:file)")
    endif()
    set(file ${CMAKE_MATCH_3})
    if(NOT IS_ABSOLUTE ${file})
      set(file ${CMAKE_CURRENT_SOURCE_DIR}/${file})
    endif()
    list(APPEND files ${file})
    list(APPEND entries "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}:${file}")
  endforeach()
  string(REPLACE ";" "|" entries_arg "${entries}")
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} "-DENTRIES=${entries_arg}" -P ${ZEL_EMBED_SCRIPT}
    DEPENDS ${files} ${ZEL_EMBED_SCRIPT}
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
  target_link_libraries(${target} PRIVATE zel_platform)
endfunction()

set(ZEL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake CACHE INTERNAL "")
