# Run by cpack for each package it makes: stops before a .deb that would
# declare no Depends, which CPack makes when dpkg-shlibdeps is missing, and
# before a source package, which would hold whatever the source folder
# holds, build output and stray files included.
if(CPACK_INSTALLED_DIRECTORIES)
  message(FATAL_ERROR "charpic: CPack makes no source package; the source "
    "archive is git archive's: "
    "git archive --prefix=charpic/ -o charpic-source.tar.gz HEAD")
endif()
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(CHARPIC_SHLIBDEPS dpkg-shlibdeps)
  if(NOT CHARPIC_SHLIBDEPS)
    message(FATAL_ERROR "charpic: the .deb needs dpkg-shlibdeps, to declare "
      "its Depends (Debian: apt-get install dpkg-dev)")
  endif()
endif()
