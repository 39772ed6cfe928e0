# kit_program(NAME SOURCES ... RESOURCE script.rc)
#
# One program, built from the same sources both ways. The Windows build
# compiles the resource script into the .exe; the native build compiles it
# with the same resource compiler to a .res file and embeds its bytes, from
# which the emulation takes the dialog templates.
#
# The sources form an object library NAME_core, which unit tests link too.
# Objects (not an archive) so that the entry point and the version stamp,
# which nothing in the program refers to, are always linked. List the file
# that defines the version stamp first: it then leads the read-only data.

if(NOT WIN32)
  # windres runs the MinGW-w64 C compiler as its preprocessor, so that the
  # scripts see the same <windows.h> as in the Windows build.
  find_program(KIT_WINDRES i686-w64-mingw32-windres)
  find_program(KIT_RC_PREPROCESSOR i686-w64-mingw32-gcc)
  if(NOT KIT_WINDRES OR NOT KIT_RC_PREPROCESSOR)
    message(FATAL_ERROR
      "i686-w64-mingw32-windres and i686-w64-mingw32-gcc are needed: the "
      "native build compiles the resource scripts with them (Debian: "
      "binutils-mingw-w64-i686 and gcc-mingw-w64-i686; tools/install-deps "
      "installs them)")
  endif()
endif()

# kit_compile_resources(SCRIPT OUTPUT): OUTPUT.res from the resource script,
# as the Windows build compiles it.
function(kit_compile_resources script output)
  # Whatever the script includes (headers, icons) lies beside it.
  get_filename_component(dir ${script} DIRECTORY)
  file(GLOB inputs CONFIGURE_DEPENDS ${dir}/*)
  get_filename_component(output_dir ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${output_dir})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${KIT_WINDRES} -O res -I ${dir} ${script} -o ${output}
    DEPENDS ${script} ${inputs}
    COMMENT "Compiling ${script}")
endfunction()

function(kit_program name)
  cmake_parse_arguments(ARG "" "RESOURCE" "SOURCES" ${ARGN})
  add_library(${name}_core OBJECT ${ARG_SOURCES})
  target_link_libraries(${name}_core PUBLIC common platform)
  target_include_directories(${name}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
                                                 ${PROJECT_SOURCE_DIR}/resources)
  if(WIN32)
    enable_language(RC)
    add_executable(${name} WIN32 ${ARG_RESOURCE})
    # No C runtime: the entry point is WinMainCRTStartup of
    # platform/win32/startup.cpp (with i686's leading underscore), and only
    # the system DLLs' import libraries are linked, with libgcc for the
    # compiler's helpers (stack probes).
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(entry _WinMainCRTStartup)
    else()
      set(entry WinMainCRTStartup)
    endif()
    target_link_options(${name} PRIVATE -nostdlib -Wl,--entry=${entry})
    # The start-up objects follow the program's, so that the version stamp
    # still leads the read-only data.
    target_link_libraries(${name} PRIVATE ${name}_core win32_startup kernel32
                                          user32 advapi32 gcc)
  else()
    set(compiled ${CMAKE_BINARY_DIR}/resources/${name}.res)
    set(embedded ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.cpp)
    kit_compile_resources(${ARG_RESOURCE} ${compiled})
    add_custom_command(
      OUTPUT ${embedded}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${compiled} -DOUTPUT=${embedded}
              -P ${PROJECT_SOURCE_DIR}/cmake/EmbedResource.cmake
      DEPENDS ${compiled} ${PROJECT_SOURCE_DIR}/cmake/EmbedResource.cmake
      COMMENT "Embedding ${name}.res")
    add_custom_target(${name}_resources DEPENDS ${compiled})
    add_executable(${name} ${embedded})
    target_link_libraries(${name} PRIVATE ${name}_core w95_main)
  endif()
endfunction()
