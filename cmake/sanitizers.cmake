# Sanitizers apply to everything built in the tree (GoogleTest included), so that
# instrumented and uninstrumented code never meet in one process.
if(B58_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(B58_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT B58_SANITIZE STREQUAL "")
    message(FATAL_ERROR "B58_SANITIZE must be empty, 'address' or 'thread'")
endif()
