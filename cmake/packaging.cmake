# Install rules for the documents and the packages CPack makes from them: a
# Debian package on Linux, a zip of the two programs and a readme for Windows.
# The programs' own rules are beside them (cli/, publish/), the manual pages'
# in man/.
#
# A build that embeds the demo root of trust/demo/ is packaged only with
# RSCDC_PACKAGE_DEMO=ON, and then says so in the package's version and
# description; packaging/refuse_demo_trust.cmake checks the programs CPack has
# staged, whatever the configure options were. The Windows programs are signed
# there too (packaging/sign_windows_programs.cmake).
option(RSCDC_PACKAGE_DEMO "Allow packaging a build that trusts the demo root; the package then says demo" OFF)
set(RSCDC_PACKAGE_MAINTAINER "Corvex Rescue CD maintainers <rescue-cd@corvex.example>" CACHE STRING
    "Maintainer field of the Debian package")

if(NOT WIN32)
  configure_file(packaging/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
  install(FILES README.md ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # A native Debian package's changelog is changelog.gz; its newest entry is
  # this version's.
  file(STRINGS packaging/changelog newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^rscdc \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog has no entry for ${PROJECT_VERSION} at its top: ${newest}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
  rscdc_gzip(packaging/changelog ${PROJECT_BINARY_DIR}/changelog.gz rscdc_changelog)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME rscdc)
set(CPACK_PACKAGE_VENDOR Corvex)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(RSCDC_PACKAGE_SHOWN_VERSION "${PROJECT_VERSION}")
set(RSCDC_PACKAGE_DEMO_NOTE "")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds a bootable anti-virus rescue CD image")
set(CPACK_PACKAGE_DESCRIPTION "rscdc downloads a live Linux distribution and the Corvex anti-virus
package, proves both against signed manifests that chain to a root
certificate built into the program, and masters a bootable ISO 9660 image
with xorrisofs (or mkisofs, genisoimage). rscdc-publish writes the signed
manifests for the operators of a download mirror.")
if(RSCDC_PACKAGE_DEMO)
  # The version carries it into the file names; in the Debian version "~"
  # sorts a demo package before the release of the same version.
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}~demo")
  set(RSCDC_PACKAGE_SHOWN_VERSION "${PROJECT_VERSION}-demo")
  string(APPEND CPACK_PACKAGE_DESCRIPTION_SUMMARY " (demo build)")
  string(APPEND CPACK_PACKAGE_DESCRIPTION "

This is a demo build: it trusts the demo root whose private keys are public
and downloads from the local demo mirror. It proves nothing; never use it
for a real rescue CD.")
  set(RSCDC_PACKAGE_DEMO_NOTE "THIS IS A DEMO BUILD. It trusts the demo root whose private keys are public
and downloads from the local demo mirror: it proves nothing.

")
endif()
if(WIN32)
  # A plain-text readme with Windows line ends beside the programs.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/README-windows.txt)
  file(READ packaging/README-windows.txt readme)
  # Substituted first: file(CONFIGURE) leaves the line ends of what it
  # substitutes as they are.
  string(CONFIGURE "${readme}" readme @ONLY)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/README.txt CONTENT "${readme}" @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
endif()

set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/refuse_demo_trust.cmake)
if(WIN32)
  # Signs the stripped programs that go into the zip, or refuses unsigned ones;
  # the signing material comes from scripts/package's environment.
  list(APPEND CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/sign_windows_programs.cmake)
endif()
# Read by that script.
set(CPACK_RSCDC_DEMO_ALLOWED ${RSCDC_PACKAGE_DEMO})
set(CPACK_RSCDC_DEMO_TRUST_DIR ${PROJECT_SOURCE_DIR}/trust/demo)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "rscdc-${RSCDC_PACKAGE_SHOWN_VERSION}-win64")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RSCDC_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xorriso)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)

if(RSCDC_BUILD_TESTS AND NOT WIN32)
  # Builds the demo packages in a folder of its own, installs the Debian one into
  # a throwaway root, checks the Windows programs' signatures and runs them under
  # wine, and sees a build with the demo root refused: minutes, so scripts/test
  # runs it only with --package.
  add_test(NAME package_test COMMAND ${PROJECT_SOURCE_DIR}/packaging/package_test ${PROJECT_BINARY_DIR}/package-test)
  set_tests_properties(package_test PROPERTIES LABELS package TIMEOUT 1800)
endif()
