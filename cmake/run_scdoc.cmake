# cmake -DSCDOC=... -DINPUT=page.scd -DOUTPUT=page -P run_scdoc.cmake
# scdoc reads standard input and writes standard output; this keeps the redirection out of
# the build tool's shell. A failed run leaves no page behind.
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "scdoc failed on ${INPUT}: ${result}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
