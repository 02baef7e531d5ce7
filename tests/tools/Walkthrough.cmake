# The README's walk-through on the Iris example, run as a user would in a
# scratch folder: import the CSV and create the start network (make_example.sh
# does both), train, test and recall. The files made must be those kept in
# examples/, which were made the same way.
# Expects -DSOURCE=<repository> -DBUILD=<folder of the programs> -DWORK=<scratch folder>.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Runs a step in the scratch folder; it must succeed and write nothing on
# standard error. Its standard output is left in `out`.
function(step)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "${ARGN}\nended with ${status}\n${output}${errors}")
  endif()
  if(NOT errors STREQUAL "")
    message(FATAL_ERROR "${ARGN}\nwrote on standard error: ${errors}")
  endif()
  message(STATUS "${output}")
  set(out "${output}" PARENT_SCOPE)
endfunction()

function(expect_output pattern)
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "output does not match ${pattern}:\n${out}")
  endif()
endfunction()

step(sh "${SOURCE}/examples/make_example.sh" "${BUILD}" "${WORK}")
foreach(made iris-setosa.dat iris-versicolor.dat iris-virginica.dat iris-scaling.txt
             iris-start.wgt)
  file(READ "${WORK}/${made}" fresh)
  file(READ "${SOURCE}/examples/${made}" kept)
  if(NOT fresh STREQUAL kept)
    message(FATAL_ERROR "examples/${made} differs from what examples/make_example.sh makes")
  endif()
endforeach()

file(COPY "${SOURCE}/examples/iris.par" DESTINATION "${WORK}")
step("${BUILD}/varnel" iris.par)
expect_output("^Error = [0-9.e-]+\n$")
step("${BUILD}/varnel-test" iris-trained.wgt iris-setosa.dat iris-versicolor.dat
     iris-virginica.dat)
expect_output("\n  all   150 ")
step("${BUILD}/varnel-recall" iris-trained.wgt iris-virginica.dat -o recalled.dat)
expect_output("^Wrote recalled.dat: 50 rows, 3 generated outputs and as many errors\n$")
