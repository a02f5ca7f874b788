# Turns the plug-in target `Zendrel` into the Windows module Zendrel.qwf. Included by
# host/CMakeLists.txt right after it defines the target; does nothing outside Windows.
#  - file name Zendrel.qwf;
#  - the resources of resources/zendrel.rc (object library mendora_windows_resources);
#  - the module description host/Zendrel.def: module name "Zendrel.qwf" and exactly the exports
#    PluginMain and _ZendrelProc@16, so nothing else (ANN, the C++ runtime) is exported;
#  - static C and C++ runtime: the module needs no DLL beyond the system's.
#
# The dialog procedure must be `extern "C"` and __stdcall (CALLBACK), without
# __declspec(dllexport): the definition file alone decides the export names.
if(NOT WIN32)
  return()
endif()
if(NOT TARGET Zendrel)
  message(FATAL_ERROR "WindowsModule.cmake: include it after defining the target Zendrel")
endif()
if(NOT TARGET mendora_windows_resources)
  message(FATAL_ERROR "WindowsModule.cmake: resources/ must be added before the plug-in")
endif()
get_target_property(zendrel_type Zendrel TYPE)
if(NOT zendrel_type STREQUAL "SHARED_LIBRARY" AND NOT zendrel_type STREQUAL "MODULE_LIBRARY")
  message(FATAL_ERROR "WindowsModule.cmake: Zendrel must be a SHARED or MODULE library")
endif()

set(zendrel_def ${CMAKE_SOURCE_DIR}/host/Zendrel.def)
if(NOT EXISTS ${zendrel_def})
  message(FATAL_ERROR "WindowsModule.cmake: the module description ${zendrel_def} is missing")
endif()
target_sources(Zendrel PRIVATE ${zendrel_def})
target_sources(Zendrel PRIVATE $<TARGET_OBJECTS:mendora_windows_resources>)
target_link_options(Zendrel PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(Zendrel PROPERTIES PREFIX "" SUFFIX ".qwf" OUTPUT_NAME Zendrel)
