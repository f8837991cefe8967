# cmake -P: configures one manual page from TEMPLATE into OUTPUT (gzipped, as
# Debian ships them). With CLI set, the page's @TARNEL_CLI_COMMANDS@ is the
# program's own --help turned into roff by AWK_SCRIPT, so the manual names the
# commands and options of the build it comes with.
foreach(var TEMPLATE OUTPUT PROJECT_VERSION TARNEL_RELEASE_DATE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ManPage.cmake needs -D${var}=...")
  endif()
endforeach()

if(DEFINED CLI)
  execute_process(COMMAND ${CLI} --help
                  COMMAND awk -f ${AWK_SCRIPT}
                  OUTPUT_VARIABLE TARNEL_CLI_COMMANDS
                  ERROR_VARIABLE errors
                  RESULTS_VARIABLE results)
  foreach(result ${results})
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${CLI} --help could not be turned into a manual: ${errors}")
    endif()
  endforeach()
  string(STRIP "${TARNEL_CLI_COMMANDS}" TARNEL_CLI_COMMANDS)
endif()

string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
configure_file(${TEMPLATE} ${page} @ONLY)
# -n: no name or time stamp, so the same page gives the same bytes.
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed")
endif()
