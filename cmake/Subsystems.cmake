# Every subsystem is one library made of all sources in its folder, so that
# adding a file never needs an edit of a shared build file.
function(vtr_subsystem name)
  cmake_parse_arguments(ARG "" "" "LINKS;PKG;PRIVATE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT srcs MATCHES "\\.(cpp|c)(;|$)")
    return()  # a folder laid out before its first source file
  endif()
  add_library(vtr_${name} STATIC ${srcs})
  vtr_precompile_library(vtr_${name})
  target_include_directories(vtr_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(vtr_${name} PUBLIC ${ARG_LINKS})
  # What only the library's own sources use, not its headers.
  target_link_libraries(vtr_${name} PRIVATE ${ARG_PRIVATE})
  foreach(p IN LISTS ARG_PKG)
    target_link_libraries(vtr_${name} PUBLIC PkgConfig::${p})
  endforeach()
endfunction()

# Every test source file becomes its own executable: a test that does not
# build only stops itself. Files under support/ are shared by the folder.
function(vtr_tests name)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/support/*.h)
  set(support_target "")
  if(support)
    add_library(vtr_${name}_testsupport STATIC ${support})
    vtr_precompile_tests(vtr_${name}_testsupport)
    target_include_directories(vtr_${name}_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(vtr_${name}_testsupport PUBLIC vtr_testmain ${ARG_LINKS})
    set(support_target vtr_${name}_testsupport)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(t IN LISTS tests)
    get_filename_component(base ${t} NAME_WE)
    string(REGEX REPLACE "^test_" "" base ${base})
    set(exe ${name}_${base})
    add_executable(${exe} ${t})
    vtr_precompile_tests(${exe})
    target_link_libraries(${exe} PRIVATE vtr_testmain ${support_target} ${ARG_LINKS})
    # Programs named *_tz_* (from test_tz_*.cpp), and those whose file has a
    # line "// Runs again under odd time zones", also run under several time
    # zones: scripts/test.sh takes them all from tests/zone-tests.txt.
    file(STRINGS ${t} zone_line REGEX "^// Runs again under odd time zones" LIMIT_COUNT 1)
    if(zone_line OR exe MATCHES "_tz_")
      file(APPEND ${PROJECT_BINARY_DIR}/tests/zone-tests.txt "${CMAKE_CURRENT_BINARY_DIR}/${exe}\n")
    endif()
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS ${name} TIMEOUT 300)
  endforeach()
endfunction()
