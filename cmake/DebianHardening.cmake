# Debian's hardening flags from dpkg-buildflags (hardening=+all: stack
# protector, fortified calls, format checks, full RELRO and bind-now) for
# the optimised native builds that the package is made from. Sanitizer and
# fuzz builds keep their own instrumentation, and FORTIFY needs optimisation.
# The optimisation and debug flags stay the build type's; none of these
# flags changes how arithmetic rounds.
option(HARMIDEX_HARDENING "Build with dpkg-buildflags' hardening flags where dpkg is installed" ON)
find_program(HX_DPKG_BUILDFLAGS dpkg-buildflags)
if(HARMIDEX_HARDENING AND HX_DPKG_BUILDFLAGS AND NOT CMAKE_CROSSCOMPILING
   AND NOT HARMIDEX_SANITIZE AND NOT HARMIDEX_FUZZ
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  function(hx_buildflags out what)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${HX_DPKG_BUILDFLAGS} --get ${what}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^(-O.*|-g.*|-ffile-prefix-map=.*|-fdebug-prefix-map=.*)$")
    set(${out} ${flags} PARENT_SCOPE)
  endfunction()
  hx_buildflags(hx_cppflags CPPFLAGS)
  hx_buildflags(hx_cxxflags CXXFLAGS)
  hx_buildflags(hx_ldflags LDFLAGS)
  target_compile_options(harmidex_flags INTERFACE ${hx_cppflags} ${hx_cxxflags})
  target_link_options(harmidex_flags INTERFACE ${hx_ldflags})
  message(STATUS "Hardening flags from dpkg-buildflags: ${hx_cppflags} ${hx_cxxflags} ${hx_ldflags}")
endif()
