# drum_resources(TARGET FILE.rc [INCLUDE_DIRS dir...])
# Compiles FILE.rc at build time into tables that register themselves with
# platform/ui/resources.h, and links them into TARGET (an executable, or a
# library whose users then carry the tables).
function(drum_resources target rc_file)
  cmake_parse_arguments(ARG "" "" "INCLUDE_DIRS" ${ARGN})
  get_filename_component(rc_path ${rc_file} ABSOLUTE)
  get_filename_component(rc_name ${rc_file} NAME_WE)
  string(MAKE_C_IDENTIFIER "${target}_${rc_name}" table)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${table}_resources.cpp)
  # The script's folder may hold the header and the pictures it names.
  get_filename_component(rc_dir ${rc_path} DIRECTORY)
  file(GLOB rc_inputs ${rc_dir}/*.h ${rc_dir}/*.bmp ${rc_dir}/*.ico)
  drum_rc_command(SCRIPT ${rc_path} OUTPUT ${out} TABLE ${table} INCLUDES ${ARG_INCLUDE_DIRS} DEPENDS ${rc_inputs})
  add_library(${table}_res OBJECT ${out})
  target_link_libraries(${table}_res PRIVATE platform_ui)
  target_link_libraries(${target} PUBLIC platform_ui "$<TARGET_OBJECTS:${table}_res>")
  add_dependencies(${target} ${table}_res)
endfunction()
