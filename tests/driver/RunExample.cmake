# Runs the README's example, `varnel iris.par`, in a fresh copy of the
# examples folder, so that the source tree gets no trained network.
# Expects -DVARNEL=<program> -DEXAMPLES=<examples folder> -DWORK=<scratch folder>.
file(REMOVE_RECURSE "${WORK}")
file(COPY "${EXAMPLES}/" DESTINATION "${WORK}")
file(REMOVE "${WORK}/iris-trained.wgt")

execute_process(
  COMMAND "${VARNEL}" iris.par
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

if(NOT status STREQUAL "0")
  message(FATAL_ERROR "varnel iris.par ended with ${status}\n${out}${err}")
endif()
if(NOT out MATCHES "^Error = [0-9]+(\\.[0-9]+)?(e[-+][0-9]+)?\n$")
  message(FATAL_ERROR "unexpected standard output: ${out}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "unexpected standard error: ${err}")
endif()
if(NOT EXISTS "${WORK}/iris-trained.wgt")
  message(FATAL_ERROR "no trained network written")
endif()
message(STATUS "${out}")
