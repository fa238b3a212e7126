# Read by cpack before it makes the package: a package nobody answers for
# is not made.
if(NOT CPACK_PACKAGE_CONTACT)
  message(FATAL_ERROR "no package maintainer: configure with -DVORN_MAINTAINER=\"Name <address>\", "
                      "or run make package with DEBFULLNAME and DEBEMAIL set")
endif()
