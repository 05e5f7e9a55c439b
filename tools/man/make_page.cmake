# Makes a man page from a program's --help with help2man. For a program with
# subcommands (COMMANDS set), a section COMMANDS holds the --help of every
# subcommand and nested command, options and examples, verbatim.
#
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=page.h2m -DVERSION=... -DOUT=page.1
#         [-DCOMMANDS=ON -DWORK=dir] -P make_page.cmake
#
# WORK is where the section is put together (removed again at the end).
foreach(var HELP2MAN PROGRAM INCLUDE VERSION OUT)
    if(NOT ${var})
        message(FATAL_ERROR "make_page.cmake needs ${var}")
    endif()
endforeach()

# The names listed under "Subcommands:" in a --help text.
function(subcommands_of help result)
    set(names)
    set(inside FALSE)
    string(REPLACE "\n" ";" lines "${help}")
    foreach(line IN LISTS lines)
        if(line STREQUAL "Subcommands:")
            set(inside TRUE)
        elseif(inside AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
            list(APPEND names ${CMAKE_MATCH_1})
        elseif(inside AND NOT line MATCHES "^ ")
            set(inside FALSE)
        endif()
    endforeach()
    set(${result} ${names} PARENT_SCOPE)
endfunction()

# The help text as roff that man shows as it is.
function(verbatim text result)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${result} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

# One subsection per command, its nested commands after it.
function(command_pages words result)
    execute_process(COMMAND ${PROGRAM} ${words} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${PROGRAM} ${words} --help failed")
    endif()
    string(REPLACE ";" " " title "${words}")
    verbatim("${help}" body)
    set(pages ".SS \"nxtka ${title}\"\n${body}")
    subcommands_of("${help}" nested)
    foreach(name IN LISTS nested)
        command_pages("${words};${name}" page)
        string(APPEND pages "${page}")
    endforeach()
    set(${result} "${pages}" PARENT_SCOPE)
endfunction()

set(includes --include=${INCLUDE})
if(COMMANDS)
    execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help)
    subcommands_of("${help}" names)
    set(section "[COMMANDS]\nEach command's own help: its options and examples.\n")
    foreach(name IN LISTS names)
        command_pages("${name}" page)
        string(APPEND section "${page}")
    endforeach()
    get_filename_component(page ${OUT} NAME)
    set(commands_include ${WORK}/${page}.commands.h2m)
    file(WRITE ${commands_include} "${section}")
    list(APPEND includes --include=${commands_include})
endif()

execute_process(
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${VERSION} ${includes} --output=${OUT}
            ${PROGRAM}
    RESULT_VARIABLE failed)
if(commands_include)
    file(REMOVE ${commands_include})
endif()
if(failed)
    message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
