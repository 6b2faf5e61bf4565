# Read by ctest after a test folder's discovered tests: gives every test of
# the programs DRUM_LEAK_PROGRAMS (in DRUM_LEAK_FOLDER) the label leaks beside
# their area's DRUM_LEAK_AREA, so that scripts/test runs them under the leak
# detector. (The discovery itself keeps one label per test.)
foreach(program IN LISTS DRUM_LEAK_PROGRAMS)
  set(listing "${DRUM_LEAK_FOLDER}/${program}[1]_tests.cmake")
  if(NOT EXISTS "${listing}")
    continue()
  endif()
  file(STRINGS "${listing}" added REGEX "^add_test")
  foreach(line IN LISTS added)
    if(line MATCHES "^add_test\\(\\[=\\[([^]]*)\\]=\\]")
      set_tests_properties("${CMAKE_MATCH_1}" PROPERTIES LABELS "${DRUM_LEAK_AREA};leaks")
    endif()
  endforeach()
endforeach()
