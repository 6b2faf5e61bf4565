# How the programs' resources are made at build time: pictures drawn by a
# generator, dialog scripts compiled into object libraries, and language
# files joined from UTF-8 fragments. resources/ and its program folders use
# these, so every program's install folder is made the same way.

# drum_draw_pictures(GENERATOR SOURCE file.cpp INTO folder SCRIPT name.rc COMMENT text)
# Builds the picture generator GENERATOR (QPainter, offscreen) from SOURCE and
# runs it at build time to draw its pictures into INTO, together with SCRIPT,
# the script that names them all. The command's output is INTO/SCRIPT: the
# caller's dialog scripts depend on that file, so redrawn pictures recompile them.
function(drum_draw_pictures generator)
  cmake_parse_arguments(ARG "" "SOURCE;INTO;SCRIPT;COMMENT" "" ${ARGN})
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(${generator} ${ARG_SOURCE})
  target_link_libraries(${generator} PRIVATE Qt6::Gui)
  # Headers of the source tree by their full path (resources/menu_commands.h).
  target_include_directories(${generator} PRIVATE ${PROJECT_SOURCE_DIR})
  drum_warnings(${generator})
  add_custom_command(
    OUTPUT ${ARG_INTO}/${ARG_SCRIPT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_INTO}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:${generator}> ${ARG_INTO}
    DEPENDS ${generator}
    COMMENT "${ARG_COMMENT}"
    VERBATIM)
endfunction()

# drum_rc_command(SCRIPT file.rc OUTPUT file.cpp TABLE name [INCLUDES folders...] [DEPENDS ...])
# The build step that compiles one dialog script with drum_rc into a source
# file holding the table TABLE. INCLUDES are the script's include folders;
# DEPENDS what the step waits for besides drum_rc and the script itself.
function(drum_rc_command)
  cmake_parse_arguments(ARG "" "SCRIPT;OUTPUT;TABLE" "INCLUDES;DEPENDS" ${ARGN})
  set(include_args)
  foreach(folder IN LISTS ARG_INCLUDES)
    list(APPEND include_args -I ${folder})
  endforeach()
  get_filename_component(rc_file ${ARG_SCRIPT} NAME)
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND drum_rc ${ARG_SCRIPT} ${ARG_OUTPUT} ${ARG_TABLE} ${include_args}
    DEPENDS drum_rc ${ARG_SCRIPT} ${ARG_DEPENDS}
    COMMENT "Compiling resources ${rc_file}"
    VERBATIM)
endfunction()

# drum_resource_library(LIBRARY SCRIPTS rc... (TABLE name | PREFIX prefix)
#                       [INCLUDES folders...] [DEPENDS files-or-targets...])
# Compiles each dialog script into a table of its own, all in the object
# library LIBRARY (an object library keeps each table's self-registering
# objects: users link $<TARGET_OBJECTS:LIBRARY>). A single script's table is
# TABLE; with PREFIX, each script's table is PREFIX_NAME. INCLUDES and
# DEPENDS are drum_rc_command's, for every script.
function(drum_resource_library library)
  cmake_parse_arguments(ARG "" "TABLE;PREFIX" "SCRIPTS;INCLUDES;DEPENDS" ${ARGN})
  list(LENGTH ARG_SCRIPTS script_count)
  if(ARG_TABLE AND NOT script_count EQUAL 1)
    message(FATAL_ERROR "drum_resource_library(${library}): TABLE names the table of one script; use PREFIX")
  endif()
  if(NOT ARG_TABLE AND NOT ARG_PREFIX)
    message(FATAL_ERROR "drum_resource_library(${library}): give TABLE or PREFIX")
  endif()
  set(outputs)
  foreach(rc_path IN LISTS ARG_SCRIPTS)
    get_filename_component(rc_name ${rc_path} NAME_WE)
    if(ARG_TABLE)
      set(table ${ARG_TABLE})
    else()
      string(MAKE_C_IDENTIFIER "${ARG_PREFIX}_${rc_name}" table)
    endif()
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${table}_resources.cpp)
    drum_rc_command(SCRIPT ${rc_path} OUTPUT ${out} TABLE ${table} INCLUDES ${ARG_INCLUDES} DEPENDS ${ARG_DEPENDS})
    list(APPEND outputs ${out})
  endforeach()
  add_library(${library} OBJECT ${outputs})
  target_link_libraries(${library} PRIVATE platform_ui)
endfunction()

# drum_text_file(OUTPUT file SOURCES files... COMMENT text [BOM])
# Joins the UTF-8 SOURCES (LF or CR LF line ends) into OUTPUT as UTF-16LE with
# CR LF, the form the programs read; with BOM it starts with the byte-order mark.
function(drum_text_file)
  cmake_parse_arguments(ARG "BOM" "OUTPUT;COMMENT" "SOURCES" ${ARGN})
  list(JOIN ARG_SOURCES "' '" src_args)
  get_filename_component(folder ${ARG_OUTPUT} DIRECTORY)
  set(bom "")
  if(ARG_BOM)
    set(bom "printf '\\377\\376'; ")
  endif()
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND sh -c "{ ${bom}cat '${src_args}' | sed 's/\\r$//; s/$/\\r/' | iconv -f UTF-8 -t UTF-16LE; } > '${ARG_OUTPUT}.tmp' && mv '${ARG_OUTPUT}.tmp' '${ARG_OUTPUT}'"
    DEPENDS ${ARG_SOURCES}
    COMMENT "${ARG_COMMENT}"
    VERBATIM)
endfunction()

# drum_language_files(OUTPUTS_VAR FROM folder INTO folder SUFFIX .ext COMMENT text [HEAD])
# Joins the fragments FROM/*.NNN.txt (in name order) into the language file
# INTO/NNN.ext for English (001) and Japanese (081), UTF-16LE with CR LF and
# no byte-order mark (drum_text_file). With HEAD, FROM/NNN.txt comes first.
# OUTPUTS_VAR receives the files made, for the caller's target.
function(drum_language_files outputs_var)
  cmake_parse_arguments(ARG "HEAD" "FROM;INTO;SUFFIX;COMMENT" "" ${ARGN})
  set(outputs)
  foreach(code 001 081)
    file(GLOB fragments CONFIGURE_DEPENDS ${ARG_FROM}/*.${code}.txt)
    list(SORT fragments)
    if(ARG_HEAD)
      list(PREPEND fragments ${ARG_FROM}/${code}.txt)
    endif()
    set(out ${ARG_INTO}/${code}${ARG_SUFFIX})
    drum_text_file(OUTPUT ${out} SOURCES ${fragments} COMMENT "${ARG_COMMENT} ${code}${ARG_SUFFIX}")
    list(APPEND outputs ${out})
  endforeach()
  set(${outputs_var} ${outputs} PARENT_SCOPE)
endfunction()
