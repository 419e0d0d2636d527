# cmake -DLUPDATE=... -DOPTIONS=... -DTS_FILES=... -DSOURCES=... -DINCLUDES=...
#       -DWORK=DIR -P check-complete.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# lupdate reads the file names and include paths from a list file.
set(list "")
foreach(dir ${INCLUDES})
    string(APPEND list "-I${dir}\n")
endforeach()
foreach(source ${SOURCES})
    string(APPEND list "${source}\n")
endforeach()
file(WRITE ${WORK}/sources.lst "${list}")

set(failed "")
foreach(ts ${TS_FILES})
    get_filename_component(name ${ts} NAME)
    file(COPY_FILE ${ts} ${WORK}/${name})
    execute_process(COMMAND ${LUPDATE} ${OPTIONS} @${WORK}/sources.lst -ts ${WORK}/${name}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    message("${output}")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "lupdate failed on ${name}")
    endif()
    file(READ ${WORK}/${name} text)
    # Each text without a finished translation, or with an empty one, by its source.
    string(REGEX MATCHALL
           "<source>[^<]*</source>[ \n]*(<[^>]*>[^<]*</[^>]*>[ \n]*)*<translation( type=\"unfinished\">|></translation>)"
           open "${text}")
    foreach(entry ${open})
        string(REGEX REPLACE "^<source>([^<]*)</source>.*" "\\1" source "${entry}")
        list(APPEND failed "${name}: \"${source}\"")
    endforeach()
    string(REGEX MATCH "<TS [^>]*language=\"[^\"]+\"" language "${text}")
    if(NOT language)
        list(APPEND failed "${name}: no language")
    endif()
endforeach()
if(failed)
    list(JOIN failed "\n  " lines)
    message(FATAL_ERROR "texts without a translation (build update_translations, then translate):\n  ${lines}")
endif()
message("every text is translated")
