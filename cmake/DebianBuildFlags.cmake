# Debian's hardening flags as dpkg-buildflags gives them (fortify, stack protector,
# relro, bind-now), so that the package is built as Debian builds its own. They come
# first on the command line: the build type's flags still choose the optimisation.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: built without Debian's hardening flags")
  return()
endif()

function(prepend_debian_build_flags variable)
  foreach(flag IN LISTS ARGN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${DPKG_BUILDFLAGS} --get ${flag}
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(flags "${flags} ${value}")
  endforeach()
  set(${variable} "${flags} ${${variable}}" PARENT_SCOPE)
endfunction()

prepend_debian_build_flags(CMAKE_CXX_FLAGS CPPFLAGS CXXFLAGS)
prepend_debian_build_flags(CMAKE_EXE_LINKER_FLAGS LDFLAGS)
