# What `cmake --install` puts where, and the packages that CPack makes of it:
# a .deb and a .tar.gz on Linux, a .zip on Windows. The source archive is
# `git archive`'s, which holds exactly what git tracks; CPack refuses to make
# one (cpack-checks.cmake).

include(GNUInstallDirs)
set(maintainer_name "the charpic developers")
set(maintainer_address "charpic@charpic.invalid")
set(maintainer "${maintainer_name} <${maintainer_address}>")
# The manual page, carrying the project's version.
set(doc_source ${PROJECT_BINARY_DIR}/charpic.1)
configure_file(doc/charpic.1.in ${doc_source} @ONLY)

if(WIN32)
  # A folder a person can use as it is: the program, its README and licence,
  # and the manual page as plain text.
  find_program(GROFF groff REQUIRED)
  add_custom_command(OUTPUT charpic.txt
    COMMAND ${GROFF} -man -Tascii -P-bcu ${doc_source} > charpic.txt
    DEPENDS ${doc_source})
  add_custom_target(manual_text ALL DEPENDS charpic.txt)
  install(TARGETS charpic RUNTIME DESTINATION .)
  install(FILES README.md LICENSE ${PROJECT_BINARY_DIR}/charpic.txt
    DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  # The manual page, and the changelog in Debian's form, gzipped with no time
  # stamp inside, as Debian packages carry them.
  find_program(GZIP gzip REQUIRED)
  add_custom_command(OUTPUT charpic.1.gz
    COMMAND ${GZIP} -9nc ${doc_source} > charpic.1.gz
    DEPENDS ${doc_source})
  add_custom_command(OUTPUT changelog.gz
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.sh
      ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${maintainer_address} ${maintainer_name}
      | ${GZIP} -9nc > changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md
      ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.sh)
  add_custom_target(compressed_docs ALL DEPENDS charpic.1.gz changelog.gz)
  install(TARGETS charpic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/charpic.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz cmake/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB TGZ)
endif()

set(CPACK_PACKAGE_VENDOR "the charpic developers")
set(CPACK_PACKAGE_CONTACT ${maintainer})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "replace and grow colours in character pictures")
set(CPACK_PACKAGE_DESCRIPTION
  "charpic works on character pictures: plain text files in which every line
is a row and every byte of a row is a cell whose value is its colour. It
prints its arguments and the picture, then replaces one colour by another
and writes the result to a file, replacing that file whole or not at all,
or grows a colour into neighbouring cells and prints every step.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without dpkg-shlibdeps CPack would make a .deb that declares no Depends;
# a source package would hold the whole folder.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-checks.cmake)
include(CPack)
