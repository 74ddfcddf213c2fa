# Runs lld-link and treats every warning as an error, except the one lld-link
# always prints for a non-driver image with a section alignment below a page
# ("/align specified without /driver"), which this image needs by design.
execute_process(COMMAND ${LINKER} ${ARGS} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[^\n]*/align specified without /driver[^\n]*\n?" "" rest "${out}${err}")
if(NOT result EQUAL 0 OR rest MATCHES "warning|error")
  message(FATAL_ERROR "lld-link failed:\n${out}${err}")
endif()
