# Builds the ANN nearest-neighbour library from Debian's source with the patches in
# cmake/ann/patches and the project's own ANN code in lib/ann_compact (the compact kd-tree,
# plain source beside Debian's), as the static library target Ann::Ann, in the native and the
# Windows build alike.
#
# The source is fetched once (cmake/ann/fetch-source) into build/ann-source of the source
# tree, shared by every build directory and never committed. Each build directory copies it
# to ann-patched/ and applies the patches there in the order of their numbers; changing,
# adding or removing a patch re-runs this at the next build. The library is compiled with the
# project's own floating-point flags (CompilerFlags.cmake): the distances it computes decide
# the search order, so both builds must round them identically. Debian's unmodified
# libann-dev stays installed only as the oracle of tests/ann.
if(TARGET Ann::Ann)
  return()
endif()
set(ANN_CACHE_DIR ${CMAKE_SOURCE_DIR}/build/ann-source CACHE PATH
    "Where Debian's unmodified ANN source is kept once fetched")
set(ann_dir ${CMAKE_CURRENT_LIST_DIR})
execute_process(COMMAND ${ann_dir}/fetch-source ${ANN_CACHE_DIR}
                OUTPUT_VARIABLE ann_pristine OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE ann_fetch_result)
if(NOT ann_fetch_result EQUAL 0)
  message(FATAL_ERROR "ANN: cannot fetch Debian's source (cmake/ann/fetch-source)")
endif()

file(GLOB ann_patches ${ann_dir}/patches/*.patch)
list(SORT ann_patches)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ann_patches} ${ann_dir}/patches)
set(ann_stamp_text "${ann_pristine}\n")
foreach(patch ${ann_patches})
  file(SHA256 ${patch} hash)
  string(APPEND ann_stamp_text "${patch} ${hash}\n")
endforeach()

set(ann_patched ${CMAKE_BINARY_DIR}/ann-patched)
set(ann_stamp ${ann_patched}/patches.stamp)
set(ann_old_stamp "")
if(EXISTS ${ann_stamp})
  file(READ ${ann_stamp} ann_old_stamp)
endif()
if(NOT ann_old_stamp STREQUAL ann_stamp_text)
  file(REMOVE_RECURSE ${ann_patched})
  file(COPY ${ann_pristine}/src ${ann_pristine}/include DESTINATION ${ann_patched})
  foreach(patch ${ann_patches})
    execute_process(COMMAND patch -p1 --batch --quiet --no-backup-if-mismatch -i ${patch}
                    WORKING_DIRECTORY ${ann_patched} RESULT_VARIABLE patch_result)
    if(NOT patch_result EQUAL 0)
      file(REMOVE_RECURSE ${ann_patched})
      message(FATAL_ERROR "ANN: ${patch} does not apply")
    endif()
  endforeach()
  file(WRITE ${ann_stamp} "${ann_stamp_text}")
endif()

# The library's files: Debian's source, patched, and the compact kd-tree, which includes ANN's
# private headers (kd_tree.h, kd_search.h, kd_util.h) and is included by the patched files
# (kd_compact.h), so both folders are on the library's own include path.
file(GLOB ann_sources ${ann_patched}/src/*.cpp)
get_filename_component(ann_compact_dir ${ann_dir}/../../lib/ann_compact ABSOLUTE)
set(ann_compact_sources ${ann_compact_dir}/kd_compact_build.cpp
                        ${ann_compact_dir}/kd_compact_search.cpp
                        ${ann_compact_dir}/kd_compact_scan.cpp
                        ${ann_compact_dir}/kd_compact_dump.cpp)
add_library(ann_patched STATIC ${ann_sources} ${ann_compact_sources})
# ANN's private headers are Debian's: included as system headers, so that their warnings do
# not count against the project's code that includes them.
target_include_directories(ann_patched SYSTEM PRIVATE ${ann_patched}/src)
target_include_directories(ann_patched PRIVATE ${ann_compact_dir})
# ANN's code style: C++14 (it uses the register keyword).
set_target_properties(ann_patched PROPERTIES CXX_STANDARD 14 CXX_EXTENSIONS OFF
                                             POSITION_INDEPENDENT_CODE ON)
# Debian's files keep their warnings silenced and their assertions off, as Debian builds them.
set_source_files_properties(${ann_sources} PROPERTIES COMPILE_OPTIONS -w
                                                      COMPILE_DEFINITIONS NDEBUG)
# The project's own files get the project's warnings (CompilerFlags.cmake), and their
# assertions in Debug builds and in the sanitizer builds (whose RelWithDebInfo defines NDEBUG).
if(MENDORA_SANITIZE OR MENDORA_FUZZ)
  set_source_files_properties(${ann_compact_sources} PROPERTIES COMPILE_OPTIONS -UNDEBUG)
endif()
# Outside the builds on Windows the header would declare nothing dllimport or dllexport anyway
# (strict ISO mode does not predefine WIN32); this keeps every ANN symbol inside the module.
target_compile_options(ann_patched PRIVATE $<$<BOOL:${WIN32}>:-UWIN32>)
target_include_directories(ann_patched SYSTEM PUBLIC ${ann_patched}/include)
find_package(Threads REQUIRED)
target_link_libraries(ann_patched PUBLIC Threads::Threads)
add_library(Ann::Ann ALIAS ann_patched)
message(STATUS "ANN: ${ann_pristine} with ${ann_dir}/patches and ${ann_compact_dir}")
