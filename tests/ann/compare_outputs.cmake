# Runs the two dump programs (PATCHED, DEBIAN) into WORK and fails unless their outputs are
# identical byte for byte.
foreach(which PATCHED DEBIAN)
  execute_process(COMMAND ${${which}} ${WORK}/ann_dump_${which}.bin RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${${which}} failed (${result})")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/ann_dump_PATCHED.bin
                        ${WORK}/ann_dump_DEBIAN.bin RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the patched search library's results differ from Debian's")
endif()
