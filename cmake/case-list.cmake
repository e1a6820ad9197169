# The case names a test runner prints with --list (and the further arguments given), as a CMake
# list in out_var; configuring fails when the runner does.
function(kestrix_case_list out_var runner)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${runner} --list ${ARGN}
    OUTPUT_VARIABLE cases
    RESULT_VARIABLE result
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${runner} --list ${ARGN} failed (${result})")
  endif()
  string(REPLACE "\n" ";" cases "${cases}")
  set(${out_var} "${cases}" PARENT_SCOPE)
endfunction()
