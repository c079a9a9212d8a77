# What the install leaves for the user of the installed program: a README written
# for them, the manual page, the changelog and the copyright, laid out as Debian
# wants them (compressed with gzip -9n, so that the same sources give the same bytes).
set(user_docs ${CMAKE_BINARY_DIR}/user-docs)
file(MAKE_DIRECTORY ${user_docs})

function(gzip_for_install source target)
  add_custom_command(OUTPUT ${user_docs}/${target}
                     COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${source} ${user_docs}/${target}
                     DEPENDS ${source} VERBATIM)
  set(compressed ${compressed} ${user_docs}/${target} PARENT_SCOPE)
endfunction()

gzip_for_install(${CMAKE_SOURCE_DIR}/docs/kalverosin4.1 kalverosin4.1.gz)
gzip_for_install(${CMAKE_SOURCE_DIR}/packaging/changelog changelog.gz)
add_custom_target(user_docs ALL DEPENDS ${compressed})

# Debian's machine-readable copyright, its licence text taken from LICENSE.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" holder_line "${licence}")
set(holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "^[^\n]*\n\n[^\n]*\n\n" "" licence_terms "${licence}")
string(STRIP "${licence_terms}" licence_terms)
string(REGEX REPLACE "\n\n" "\n.\n" licence_terms "${licence_terms}")
string(REGEX REPLACE "\n" "\n " licence_terms "${licence_terms}")
file(WRITE ${user_docs}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: ${PROJECT_NAME}\n\n"
     "Files: *\nCopyright: ${holder}\nLicense: Expat\n ${licence_terms}\n")

install(FILES docs/README.installed.md RENAME README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${user_docs}/changelog.gz ${user_docs}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${user_docs}/kalverosin4.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
