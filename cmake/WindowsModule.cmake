# Turns the plug-in target `Zendrel` into the Windows module Zendrel.qwf. Included by
# host/CMakeLists.txt right after it defines the target; does nothing outside Windows.
#  - file name Zendrel.qwf;
#  - the resources of resources/zendrel.rc (object library mendora_windows_resources);
#  - a module-definition file: module name "Zendrel.qwf" and exactly the exports
#    PluginMain and _ZendrelProc@16, so nothing else (ANN, the C++ runtime) is exported;
#  - static C and C++ runtime: the module needs no DLL beyond the system's.
#
# The dialog procedure must be `extern "C"` and __stdcall (CALLBACK), without
# __declspec(dllexport): the definition file alone decides the export names.
# MENDORA_EXPORT_DIALOG_PROC (ON, OFF or AUTO) says whether _ZendrelProc@16 is exported;
# AUTO exports it when a source file under ui/ defines ZendrelProc, so the module still
# links while the dialogs are not written yet.
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

set(MENDORA_EXPORT_DIALOG_PROC AUTO CACHE STRING
  "Export the region dialog procedure _ZendrelProc@16: ON, OFF or AUTO")
set_property(CACHE MENDORA_EXPORT_DIALOG_PROC PROPERTY STRINGS AUTO ON OFF)
set(zendrel_dialog_export ${MENDORA_EXPORT_DIALOG_PROC})
if(zendrel_dialog_export STREQUAL "AUTO")
  set(zendrel_dialog_export OFF)
  file(GLOB_RECURSE zendrel_ui_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/*.cpp)
  foreach(source IN LISTS zendrel_ui_sources)
    # Editing the file re-runs this check.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(STRINGS ${source} definitions REGEX "ZendrelProc[ \t]*\\(")
    if(definitions)
      set(zendrel_dialog_export ON)
    endif()
  endforeach()
endif()
# Read by the Windows test program, which checks the export directory.
set(MENDORA_DIALOG_PROC_EXPORTED ${zendrel_dialog_export} CACHE INTERNAL "")

set(zendrel_def "LIBRARY \"Zendrel.qwf\"\nEXPORTS\n    PluginMain\n")
if(zendrel_dialog_export)
  # Exported under its decorated standard-call name; the right side names the symbol.
  string(APPEND zendrel_def "    _ZendrelProc@16 = ZendrelProc@16\n")
else()
  message(STATUS "Zendrel.qwf: _ZendrelProc@16 not exported (no dialog procedure in ui/ yet)")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/Zendrel.def.in "${zendrel_def}")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/Zendrel.def.in ${CMAKE_CURRENT_BINARY_DIR}/Zendrel.def
  COPYONLY)

target_sources(Zendrel PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/Zendrel.def)
target_sources(Zendrel PRIVATE $<TARGET_OBJECTS:mendora_windows_resources>)
target_link_options(Zendrel PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(Zendrel PROPERTIES PREFIX "" SUFFIX ".qwf" OUTPUT_NAME Zendrel)
