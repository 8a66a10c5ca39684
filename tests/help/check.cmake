# Checks the compiled help file CHM against its pages in PAGES: every page and style sheet is
# inside, and so is every file the project names as its default topic, contents or index and
# every file the contents and the index point to (chmcmd compiles a project whose contents point
# nowhere without a word).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CHMLS} --name-only list ${CHM}
    OUTPUT_VARIABLE listing ERROR_VARIABLE chatter RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "chmls cannot list ${CHM}")
endif()
string(REPLACE "\n" ";" inside "${listing}")
list(REMOVE_ITEM inside "/")

file(GLOB wanted RELATIVE ${PAGES} ${PAGES}/*.html ${PAGES}/*.css)
file(STRINGS ${PAGES}/Pellmar.hhp options REGEX "^(Default topic|Contents file|Index file)=")
list(TRANSFORM options REPLACE "^[^=]*=" "")
file(STRINGS ${PAGES}/Pellmar.hhc targets REGEX "name=\"Local\"")
file(STRINGS ${PAGES}/Pellmar.hhk index_targets REGEX "name=\"Local\"")
list(APPEND targets ${index_targets})
list(TRANSFORM targets REPLACE ".*value=\"([^\"#]*).*" "\\1")
list(APPEND wanted ${options} ${targets})

set(missing)
foreach(file IN LISTS wanted)
    if(NOT "/${file}" IN_LIST inside)
        list(APPEND missing "'${file}'")
    endif()
endforeach()
if(missing)
    list(REMOVE_DUPLICATES missing)
    message(FATAL_ERROR "${CHM} lacks: ${missing}")
endif()
