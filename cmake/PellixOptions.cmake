# Sanitizers, warnings and source paths shared by every target of the tree.

if(PELLIX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address)
elseif(PELLIX_SANITIZE STREQUAL "address,undefined")
  # Both in one build: every report ends the process.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(PELLIX_SANITIZE STREQUAL "undefined")
  add_compile_options(-fsanitize=undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=undefined)
elseif(PELLIX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT PELLIX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PELLIX_SANITIZE must be address, undefined, address,undefined or thread")
endif()

# Line and branch coverage of every target (scripts/coverage.sh reads the counters with gcovr).
# -O1 keeps the per-pixel paths of the platform fast enough for live 1080p60 while the line
# numbers stay those of the source.
if(PELLIX_COVERAGE)
  add_compile_options(--coverage -O1 -fno-inline)
  add_link_options(--coverage)
endif()

# ABORT records name the failing source by its path from the top of the tree.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

function(pellix_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-format-zero-length)
endfunction()
