# Run by cpack for each package it makes: stops before a .deb that would
# declare no Depends, which CPack makes when dpkg-shlibdeps is missing.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(CHARPIC_SHLIBDEPS dpkg-shlibdeps)
  if(NOT CHARPIC_SHLIBDEPS)
    message(FATAL_ERROR "charpic: the .deb needs dpkg-shlibdeps, to declare "
      "its Depends (Debian: apt-get install dpkg-dev)")
  endif()
endif()
