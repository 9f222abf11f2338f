# The build keeps the layering: a library sees its own folder under src/ and, through the
# libraries it links, the folders those may use; nothing above it. Each folder gets an
# include root of its own in the build tree that holds only a link to that folder, so
# `#include "scan/..."` compiles only where a library links hivewise_scan.
function(hivewise_layer target folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
