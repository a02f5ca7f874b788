# Locates the ANN nearest-neighbour library and defines the imported target Ann::Ann.
# Natively it comes from Debian's libann-dev; the Windows cross-build supplies its own
# static build through ANN_ROOT (include/ and lib/ below it).
if(TARGET Ann::Ann)
  return()
endif()
find_path(ANN_INCLUDE_DIR ANN/ANN.h HINTS ${ANN_ROOT}/include)
find_library(ANN_LIBRARY NAMES ann ANN HINTS ${ANN_ROOT}/lib)
if(NOT ANN_INCLUDE_DIR OR NOT ANN_LIBRARY)
  message(FATAL_ERROR "ANN not found: install libann-dev (scripts/setup), or set ANN_ROOT")
endif()
add_library(Ann::Ann UNKNOWN IMPORTED)
set_target_properties(Ann::Ann PROPERTIES
  IMPORTED_LOCATION ${ANN_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${ANN_INCLUDE_DIR})
message(STATUS "ANN: ${ANN_LIBRARY}")
