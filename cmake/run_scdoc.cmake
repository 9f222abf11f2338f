# cmake -DSCDOC=... -DINPUT=page.scd -DOUTPUT=page [-DGZIP=...] -P run_scdoc.cmake
# scdoc reads standard input and writes standard output; this keeps the redirection out of
# the build tool's shell. With GZIP it also writes OUTPUT.gz, the form Debian installs.
# A failed run leaves no page behind.
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "scdoc failed on ${INPUT}: ${result}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
if(GZIP)
  # -n: no name or time stamp, so that two builds give the same bytes.
  execute_process(COMMAND ${GZIP} -n -9 -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz.tmp
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT}.gz.tmp)
    message(FATAL_ERROR "gzip failed on ${OUTPUT}: ${result}")
  endif()
  file(RENAME ${OUTPUT}.gz.tmp ${OUTPUT}.gz)
endif()
