# Warnings for our own targets only; third-party code (GoogleTest) keeps its own flags.
function(b58_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4)
        if(B58_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                 -Wcast-align -Wunused -Woverloaded-virtual -Wformat=2
                                                 -Wimplicit-fallthrough)
        if(B58_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()
