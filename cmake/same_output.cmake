# cmake -DNATIVE=prog -DWINE_RUN=script -DEXE=prog.exe [-DARGS=arg;...] -P same_output.cmake
# Fails unless the native program and the Windows one run under Wine print the same
# (both given ARGS).
execute_process(COMMAND ${NATIVE} ${ARGS} OUTPUT_VARIABLE native_out RESULT_VARIABLE native_rc)
execute_process(COMMAND ${WINE_RUN} ${EXE} ${ARGS} OUTPUT_VARIABLE wine_out RESULT_VARIABLE wine_rc)
string(REPLACE "\r" "" wine_out "${wine_out}")
if(NOT native_rc EQUAL 0 OR NOT wine_rc EQUAL 0)
  message(FATAL_ERROR "native exit ${native_rc}, Wine exit ${wine_rc}")
endif()
if(NOT native_out STREQUAL wine_out)
  message(FATAL_ERROR "native: ${native_out}Wine:   ${wine_out}")
endif()
message(STATUS "both: ${native_out}")
