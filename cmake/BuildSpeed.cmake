# CI builds the tree twice from cold (gcc for the tests, clang for the fuzz
# targets) on two cores; most of that time went into parsing the same Qt and
# test framework headers again for every file and into linking ~100 test
# programs with the system linker.
include(CheckLinkerFlag)

option(VTR_PCH "Precompile the Qt, standard library and test framework headers" ON)
option(VTR_LLD "Link with lld when the compiler can use it" ON)

if(VTR_LLD)
  check_linker_flag(CXX -fuse-ld=lld VTR_HAVE_LLD)
  if(VTR_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()

# Each library gets its own precompiled header: the libraries differ in the
# Qt modules and package flags they compile with, which a shared one would
# have to match exactly.
function(vtr_precompile_library target)
  if(VTR_PCH)
    target_precompile_headers(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:${PROJECT_SOURCE_DIR}/cmake/pch/vtr_pch.h>")
  endif()
endfunction()

# The test main's header is compiled once and used by every test program.
function(vtr_precompile_tests target)
  if(NOT VTR_PCH)
    return()
  endif()
  if(target STREQUAL "vtr_testmain")
    target_precompile_headers(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:${PROJECT_SOURCE_DIR}/cmake/pch/vtr_test_pch.h>")
  else()
    target_precompile_headers(${target} REUSE_FROM vtr_testmain)
    # A test program's own moc file is nearly always empty: loading the
    # header would cost more than it saves.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
                                PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  endif()
endfunction()
