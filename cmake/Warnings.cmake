# Warnings are on and must stay clean for every target we own.
function(menutip_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
