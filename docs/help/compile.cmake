# Compiles the help project PROJECT with CHMCMD into OUTPUT.
#
# chmcmd reads the project's files beside PROJECT and writes the compiled file (the project's
# "Compiled file", named as OUTPUT is) into the folder it runs in, so it runs in WORK_DIR and
# leaves the sources alone. It reports a link to a missing file as a warning and still succeeds,
# and it stops on a missing page leaving a half-written file: both fail the build here, and
# OUTPUT is replaced only by a complete file. Its chatter is shown only on failure.
cmake_path(GET OUTPUT FILENAME name)
set(compiled ${WORK_DIR}/${name})
file(REMOVE ${compiled})
execute_process(
    COMMAND ${CHMCMD} ${PROJECT}
    WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE log
    ERROR_VARIABLE log)
if(NOT status EQUAL 0 OR log MATCHES "Warning|Error|exception" OR NOT EXISTS ${compiled})
    message(FATAL_ERROR "chmcmd could not compile ${PROJECT} (exit status ${status}):\n${log}")
endif()
file(RENAME ${compiled} ${OUTPUT})
