# kit_program(NAME SOURCES ... RESOURCE script.rc)
#
# One program, built from the same sources both ways. The Windows build
# compiles the resource script into the .exe; the native build embeds the
# script's text, from which the emulation takes its dialog templates.
#
# The sources form an object library NAME_core, which unit tests link too.
# Objects (not an archive) so that the entry point and the version stamp,
# which nothing in the program refers to, are always linked. List the file
# that defines the version stamp first: it then leads the read-only data.
function(kit_program name)
  cmake_parse_arguments(ARG "" "RESOURCE" "SOURCES" ${ARGN})
  add_library(${name}_core OBJECT ${ARG_SOURCES})
  target_link_libraries(${name}_core PUBLIC common platform)
  target_include_directories(${name}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  if(WIN32)
    enable_language(RC)
    add_executable(${name} WIN32 ${ARG_RESOURCE})
    target_link_libraries(${name} PRIVATE ${name}_core)
  else()
    set(embedded ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.cpp)
    add_custom_command(
      OUTPUT ${embedded}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${ARG_RESOURCE} -DOUTPUT=${embedded}
              -P ${PROJECT_SOURCE_DIR}/cmake/EmbedResource.cmake
      DEPENDS ${ARG_RESOURCE} ${PROJECT_SOURCE_DIR}/cmake/EmbedResource.cmake
      COMMENT "Embedding ${ARG_RESOURCE}")
    add_executable(${name} ${embedded})
    target_link_libraries(${name} PRIVATE ${name}_core w95_main)
  endif()
endfunction()
