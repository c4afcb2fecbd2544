# Debian's hardening flags (dpkg-buildflags with every hardening feature:
# stack protector, _FORTIFY_SOURCE, format checks, RELRO and immediate
# binding), so that the packaged programs are built as Debian builds its own.
# Only the hardening flags are taken: the build type keeps its optimisation
# and debug information, and no flag names the source folder (ccache shares
# its results between work trees). Not for the sanitized and fuzzing builds,
# whose run-time checks _FORTIFY_SOURCE would get in the way of.
option(KIVO_DEBIAN_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)

function(kivo_debian_flags out kind)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${KIVO_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags INCLUDE REGEX
       "^(-fstack-protector|-fstack-clash-protection|-fcf-protection|-D_FORTIFY_SOURCE|-Wformat|-Werror=format-security|-Wl,-z,)")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

find_program(KIVO_DPKG_BUILDFLAGS dpkg-buildflags)
if(KIVO_DEBIAN_HARDENING AND KIVO_DPKG_BUILDFLAGS AND NOT KIVO_SANITIZE AND NOT KIVO_FUZZ)
  kivo_debian_flags(kivo_cppflags CPPFLAGS)
  kivo_debian_flags(kivo_cxxflags CXXFLAGS)
  kivo_debian_flags(kivo_ldflags LDFLAGS)
  target_compile_options(kivo_warnings INTERFACE ${kivo_cppflags} ${kivo_cxxflags})
  target_link_options(kivo_warnings INTERFACE ${kivo_ldflags})
  message(STATUS "Debian hardening flags: ${kivo_cppflags} ${kivo_cxxflags} ${kivo_ldflags}")
endif()
