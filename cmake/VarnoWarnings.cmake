# Warnings for our own targets. Qt and QCoro headers are included as system
# headers by their imported targets, so only our code is held to these.
function(varno_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
endfunction()
