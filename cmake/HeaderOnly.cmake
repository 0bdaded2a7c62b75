# hx_header_only(VAR HEADER PACKAGE): the folder to include for a
# header-only Debian library whose HEADER (CLI/CLI.hpp, say) lies in
# /usr/include. A cross build gets a folder holding only that library, so
# the rest of the build machine's headers never reach the target.
function(hx_header_only var header package)
  string(REGEX REPLACE "/.*" "" top "${header}")
  find_path(HX_${top}_INCLUDE ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT HX_${top}_INCLUDE)
    message(FATAL_ERROR "${header} not found (Debian package ${package})")
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${top}-include)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${HX_${top}_INCLUDE}/${top} ${dir}/${top} SYMBOLIC)
  else()
    set(dir ${HX_${top}_INCLUDE})
  endif()
  set(${var} ${dir} PARENT_SCOPE)
endfunction()
