# Shared helpers for the project's targets.

# Warnings for our own code. Third-party headers come in as SYSTEM includes.
function(drum_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# drum_library(NAME SOURCES... [DEPS libs...])
# A static library whose headers are included as "folder/file.h" from the repository root.
function(drum_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  drum_warnings(${name})
endfunction()

# drum_test(NAME SOURCES... [DEPS libs...] [LABELS ...])
# One GoogleTest executable with the shared test helpers (tests/support);
# every TEST becomes a CTest case.
function(drum_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  drum_warnings(${name})
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "DRUM_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# drum_area_tests(AREA DEPS libs... [RESOURCES object-library])
# One test program per *_test.cpp of the current folder, named AREA_FILE and
# labelled AREA, with the folder's fixture_*.cpp, linked with DEPS and with the
# objects of RESOURCES (the dialog scripts the pages run).
function(drum_area_tests area)
  cmake_parse_arguments(ARG "" "RESOURCES" "DEPS" ${ARGN})
  file(GLOB fixtures CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fixture_*.cpp)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(test_source IN LISTS tests)
    get_filename_component(test_name ${test_source} NAME_WE)
    drum_test(${area}_${test_name}
      SOURCES ${test_source} ${fixtures}
      DEPS ${ARG_DEPS}
      LABELS ${area})
    if(ARG_RESOURCES)
      target_link_libraries(${area}_${test_name} PRIVATE $<TARGET_OBJECTS:${ARG_RESOURCES}>)
    endif()
  endforeach()
endfunction()

# drum_leak_checked(AREA PROGRAMS...)
# The tests of these programs of the current folder (already defined) get the
# label leaks beside AREA (cmake/leak_labels.cmake, read by ctest): they open
# what once leaked, and scripts/test runs them under the leak detector.
function(drum_leak_checked area)
  set(setup ${CMAKE_CURRENT_BINARY_DIR}/leak_labels_setup.cmake)
  file(WRITE ${setup}
    "set(DRUM_LEAK_FOLDER [==[${CMAKE_CURRENT_BINARY_DIR}]==])\n"
    "set(DRUM_LEAK_AREA ${area})\n"
    "set(DRUM_LEAK_PROGRAMS \"${ARGN}\")\n"
    "include([==[${PROJECT_SOURCE_DIR}/cmake/leak_labels.cmake]==])\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${setup})
endfunction()

# drum_fuzzer(NAME SOURCES... [DEPS libs...])
# A libFuzzer target (clang with -DDRUM_BUILD_FUZZERS=ON); scripts/fuzz runs each briefly.
function(drum_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  # A finding of either sanitizer ends the run with an error: a report that
  # only prints would let the run pass.
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  set_property(GLOBAL APPEND PROPERTY DRUM_FUZZERS ${name})
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${name})
endfunction()

# drum_add_subfolders([SKIP names...] [DATA names...])
# Adds every subfolder of the current source folder to the build, in name
# order. A folder joins once it exists; one without a CMakeLists.txt stops the
# configuration (a misspelt or half-made folder must not drop out silently).
# SKIP: folders the caller adds itself (or never). DATA: folders that hold
# files only.
function(drum_add_subfolders)
  cmake_parse_arguments(ARG "" "" "SKIP;DATA" ${ARGN})
  file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT entries)
  foreach(entry IN LISTS entries)
    get_filename_component(name ${entry} NAME)
    if(NOT IS_DIRECTORY ${entry} OR name IN_LIST ARG_SKIP OR name IN_LIST ARG_DATA)
      continue()
    endif()
    if(NOT EXISTS ${entry}/CMakeLists.txt)
      message(FATAL_ERROR "${entry} has no CMakeLists.txt: give it one, or list it as a data folder")
    endif()
    add_subdirectory(${name})
  endforeach()
endfunction()

# drum_check_listed(PARENT folder LISTED folders...)
# Stops the configuration when a subfolder of PARENT has a CMakeLists.txt but
# is missing from LISTED, the ordered list the caller adds by hand.
function(drum_check_listed)
  cmake_parse_arguments(ARG "" "PARENT" "LISTED" ${ARGN})
  set(base ${PROJECT_SOURCE_DIR})
  if(NOT ARG_PARENT STREQUAL ".")
    set(base ${PROJECT_SOURCE_DIR}/${ARG_PARENT})
  endif()
  file(GLOB entries LIST_DIRECTORIES true ${base}/*)
  foreach(entry IN LISTS entries)
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${entry})
    if(IS_DIRECTORY ${entry} AND EXISTS ${entry}/CMakeLists.txt AND NOT relative IN_LIST ARG_LISTED)
      message(FATAL_ERROR "${relative} has a CMakeLists.txt but is not in the folder list of ${CMAKE_CURRENT_LIST_FILE}")
    endif()
  endforeach()
endfunction()

# drum_boot_code(OUT_VAR SYMBOL ASM HEADER [INCLUDES dirs...])
# Assembles boot code with nasm at build time and embeds its bytes as
# `extern const uint8_t SYMBOL[]`, declared (with its size) in HEADER, which
# the generated source includes. Appends the generated source to OUT_VAR.
function(drum_boot_code out_var symbol asm header)
  cmake_parse_arguments(ARG "" "" "INCLUDES" ${ARGN})
  find_program(NASM_PROGRAM nasm REQUIRED)
  get_filename_component(asm_name ${asm} NAME_WE)
  get_filename_component(asm_dir ${asm} DIRECTORY)
  set(bin ${CMAKE_CURRENT_BINARY_DIR}/boot/${asm_name}.bin)
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/boot/${asm_name}.cpp)
  set(include_flags -I${asm_dir}/)
  set(includes)
  foreach(dir IN LISTS ARG_INCLUDES asm_dir)
    list(APPEND include_flags -I${dir}/)
    file(GLOB found ${dir}/*.inc)
    list(APPEND includes ${found})
  endforeach()
  list(REMOVE_DUPLICATES include_flags)
  add_custom_command(OUTPUT ${bin}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/boot
    COMMAND ${NASM_PROGRAM} -f bin ${include_flags} ${asm} -o ${bin}
    DEPENDS ${asm} ${includes}
    COMMENT "Assembling ${asm_name}")
  add_custom_command(OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${bin} -DOUTPUT=${cpp} -DNAME=${symbol} -DHEADER=${header}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed_binary.cmake
    DEPENDS ${bin} ${PROJECT_SOURCE_DIR}/cmake/embed_binary.cmake)
  set(${out_var} ${${out_var}} ${cpp} PARENT_SCOPE)
endfunction()
