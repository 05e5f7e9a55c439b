# Warnings are errors for the project's own code.
function(nxtka_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wconversion -Wno-sign-conversion)
    endif()
endfunction()
