# The JPEG decoder of the Windows build: libjpeg-turbo from Debian's source (the library the
# native build reads JPEG through, Debian's libjpeg-dev, which has no mingw-w64 package),
# cross-compiled into a static library, as the imported target Jpeg::Jpeg. The command line
# decodes a JPEG's scans with it once to tell damaged data from harmless warnings
# (tools/mendora/jpeg_check.cpp); the fill's pixels still come from the system's codec.
#
# The source is fetched once (cmake/fetch-debian-source) into build/libjpeg-turbo-source of
# the source tree, shared by every build directory and never committed, and built out of
# tree as a project of its own: its flags and ours do not mix. Only the decoder's library is
# built: no SIMD code (no assembler needed), no shared library, no TurboJPEG API, no tools.
if(TARGET Jpeg::Jpeg)
  return()
endif()
set(JPEG_CACHE_DIR ${CMAKE_SOURCE_DIR}/build/libjpeg-turbo-source CACHE PATH
    "Where Debian's unmodified libjpeg-turbo source is kept once fetched")
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../fetch-debian-source libjpeg-turbo
                        ${JPEG_CACHE_DIR} jpeglib.h
                OUTPUT_VARIABLE jpeg_source OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE jpeg_fetch_result)
if(NOT jpeg_fetch_result EQUAL 0)
  message(FATAL_ERROR "libjpeg-turbo: cannot fetch Debian's source (cmake/fetch-debian-source)")
endif()

include(ExternalProject)
set(jpeg_prefix ${CMAKE_BINARY_DIR}/libjpeg-turbo)
set(jpeg_library ${jpeg_prefix}/lib/libjpeg.a)
set(jpeg_launcher "")
if(CMAKE_C_COMPILER_LAUNCHER)
  set(jpeg_launcher -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER})
endif()
# The library and the headers a decoder includes: jpeglib.h, jmorecfg.h and jerror.h from the
# source, jconfig.h as the build configured it.
ExternalProject_Add(libjpeg_turbo
  SOURCE_DIR ${jpeg_source}
  BINARY_DIR ${jpeg_prefix}/build
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
             ${jpeg_launcher} -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF
             -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
             # Never installed; a path of this machine in place of its default, C:/...
             -DCMAKE_INSTALL_PREFIX=${jpeg_prefix}/unused
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  INSTALL_COMMAND
    ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/libjpeg.a ${jpeg_prefix}/lib/
    COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/jconfig.h <SOURCE_DIR>/jpeglib.h
            <SOURCE_DIR>/jmorecfg.h <SOURCE_DIR>/jerror.h ${jpeg_prefix}/include/
  BUILD_BYPRODUCTS ${jpeg_library})
# The folders exist before the build fills them: CMake checks an imported target's paths.
file(MAKE_DIRECTORY ${jpeg_prefix}/include ${jpeg_prefix}/lib)
add_library(Jpeg::Jpeg STATIC IMPORTED GLOBAL)
set_target_properties(Jpeg::Jpeg PROPERTIES IMPORTED_LOCATION ${jpeg_library}
                                            INTERFACE_INCLUDE_DIRECTORIES ${jpeg_prefix}/include)
add_dependencies(Jpeg::Jpeg libjpeg_turbo)
message(STATUS "libjpeg-turbo: ${jpeg_source}, built into ${jpeg_prefix}")
