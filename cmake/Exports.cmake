# The exported names live in one list, exports/nxtka.exports: one name per
# line with the byte count of its arguments (for the decorated names of 32-bit
# Windows). From it come the Linux version script and the Windows module
# definition file.
set(NXTKA_EXPORTS_LIST ${CMAKE_CURRENT_LIST_DIR}/../exports/nxtka.exports)

function(nxtka_read_exports out_names out_bytes)
    file(STRINGS ${NXTKA_EXPORTS_LIST} lines REGEX "^[A-Za-z]")
    set(names "")
    set(bytes "")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "^([A-Za-z_][A-Za-z0-9_]*)[ \t]+([0-9]+)" _ "${line}")
        list(APPEND names ${CMAKE_MATCH_1})
        list(APPEND bytes ${CMAKE_MATCH_2})
    endforeach()
    set(${out_names} ${names} PARENT_SCOPE)
    set(${out_bytes} ${bytes} PARENT_SCOPE)
endfunction()

# 32-bit Windows: the linker's import library holds the undecorated names,
# while programs compiled with the header's stdcall declarations look for
# Name@N. This one is made from the decorated names; -k makes it import the
# undecorated names the DLL exports.
function(nxtka_decorated_import_library target names bytes)
    if(NOT CMAKE_DLLTOOL)
        find_program(CMAKE_DLLTOOL NAMES ${NXTKA_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
    endif()
    set(def "LIBRARY NXTKA.dll\nEXPORTS\n")
    list(LENGTH names n)
    math(EXPR last "${n} - 1")
    foreach(i RANGE ${last})
        list(GET names ${i} name)
        list(GET bytes ${i} b)
        string(APPEND def "    ${name}@${b}\n")
    endforeach()
    set(file ${CMAKE_CURRENT_BINARY_DIR}/nxtka_decorated.def)
    file(WRITE ${file} "${def}")
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_DLLTOOL} -k -d ${file} -l $<TARGET_LINKER_FILE:${target}>
        COMMENT "Import library with decorated names")
endfunction()

function(nxtka_apply_exports target internal)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${NXTKA_EXPORTS_LIST})
    nxtka_read_exports(names bytes)
    if(WIN32)
        set(def "LIBRARY NXTKA\nEXPORTS\n")
        list(LENGTH names n)
        math(EXPR last "${n} - 1")
        foreach(i RANGE ${last})
            list(GET names ${i} name)
            list(GET bytes ${i} b)
            if(CMAKE_SIZEOF_VOID_P EQUAL 4)
                string(APPEND def "    ${name} = ${name}@${b}\n")
            else()
                string(APPEND def "    ${name}\n")
            endif()
        endforeach()
        file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nxtka.def "${def}")
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/nxtka.def)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            nxtka_decorated_import_library(${target} "${names}" "${bytes}")
        endif()
    else()
        set(script "NXTKA_1 {\n  global:\n")
        foreach(name IN LISTS names)
            string(APPEND script "    ${name};\n")
        endforeach()
        string(APPEND script "  local:\n    *;\n};\n")
        file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nxtka.map "${script}")
        target_link_options(${target} PRIVATE
            -Wl,--version-script=${CMAKE_CURRENT_BINARY_DIR}/nxtka.map -Wl,--no-undefined)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/nxtka.map)
    endif()
    # Every object of the internal library goes in, whether or not the entry
    # file refers to it.
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${internal}>")
endfunction()
