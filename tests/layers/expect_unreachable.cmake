# cmake -DBUILD_DIR=... -DHEADER=... -DPROBE=... -DCONTROL=... -P expect_unreachable.cmake
# Passes when CONTROL builds and PROBE fails for want of HEADER alone.
function(build target result output)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${result} ${code} PARENT_SCOPE)
  set(${output} "${out}" PARENT_SCOPE)
endfunction()

build(${CONTROL} code out)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${CONTROL}, which may include ${HEADER}, does not build:\n${out}")
endif()

build(${PROBE} code out)
if(code EQUAL 0)
  message(FATAL_ERROR "${PROBE} includes ${HEADER} although its target does not reach it")
endif()
string(REPLACE "." "\\." header "${HEADER}")
# GCC: "x.h: No such file or directory"; clang: "'x.h' file not found".
if(NOT out MATCHES "${header}: No such file or directory" AND NOT out MATCHES "'${header}' file not found")
  message(FATAL_ERROR "${PROBE} fails, but not for want of ${HEADER}:\n${out}")
endif()
message(STATUS "${PROBE}: ${HEADER} is out of reach, as it should be")
