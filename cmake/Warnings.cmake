# Every target of ours gets the same warnings; CI turns them into errors.
add_library(tarnell_warnings INTERFACE)
target_compile_options(tarnell_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Wunused -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
if(TARNELL_WERROR)
    target_compile_options(tarnell_warnings INTERFACE -Werror)
endif()
