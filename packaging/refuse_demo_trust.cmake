# Run by CPack on the staged files before it makes a package: refuses to
# package programs that trust a certificate of trust/demo/ (whose private keys
# are public) unless the build was configured with RSCDC_PACKAGE_DEMO=ON.
#
# The root a build trusts is the PEM certificate embedded in rscdc (a byte table
# on Linux, the CERTIFICATE resource on Windows; both hold the file's bytes as
# they are). Every PEM certificate found in any staged file is compared with the
# demo certificates by SHA-256 fingerprint, so renaming or re-encoding the demo
# file does not get it through; rscdc must hold one, or nothing is proved.

cmake_policy(VERSION 3.25)

# The SHA-256 fingerprint of the first certificate in a PEM file.
function(fingerprint pem_file out)
  execute_process(COMMAND openssl x509 -noout -fingerprint -sha256 -in "${pem_file}"
                  OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT text MATCHES "=([0-9A-F:]+)")
    message(FATAL_ERROR "Cannot read the certificate in ${pem_file} with openssl")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# The PEM certificates in a file, binary or text, as files in `scratch`; their
# names in `out`.
function(embedded_certificates file scratch out)
  file(STRINGS "${file}" lines REGEX "-----(BEGIN|END) CERTIFICATE-----|^[A-Za-z0-9+/=]+$")
  set(found "")
  set(pem "")
  set(inside FALSE)
  foreach(line IN LISTS lines)
    # Bytes before or after the armour may run into its lines.
    if(line MATCHES "-----BEGIN CERTIFICATE-----")
      set(inside TRUE)
      set(pem "-----BEGIN CERTIFICATE-----\n")
    elseif(inside AND line MATCHES "-----END CERTIFICATE-----")
      list(LENGTH found n)
      set(name "${scratch}/certificate-${n}.pem")
      file(WRITE "${name}" "${pem}-----END CERTIFICATE-----\n")
      list(APPEND found "${name}")
      set(inside FALSE)
    elseif(inside)
      string(APPEND pem "${line}\n")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT IS_DIRECTORY "${staged}")
  message(FATAL_ERROR "The staged files of the package are not at \"${staged}\"")
endif()
set(scratch "${CPACK_TOPLEVEL_DIRECTORY}/trust-check")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")

set(demo_fingerprints "")
file(GLOB demo_certificates "${CPACK_RSCDC_DEMO_TRUST_DIR}/*.crt")
foreach(certificate IN LISTS demo_certificates)
  fingerprint("${certificate}" f)
  list(APPEND demo_fingerprints "${f}")
endforeach()
if(NOT demo_fingerprints)
  message(FATAL_ERROR "No demo certificate in ${CPACK_RSCDC_DEMO_TRUST_DIR} to compare with")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES FALSE "${staged}/*")
set(tool_checked FALSE)
set(demo_in "")
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(MAKE_DIRECTORY "${scratch}/${name}")
  embedded_certificates("${file}" "${scratch}/${name}" certificates)
  if(name STREQUAL "rscdc" OR name STREQUAL "rscdc.exe")
    if(NOT certificates)
      message(FATAL_ERROR "No embedded root certificate found in ${file}")
    endif()
    set(tool_checked TRUE)
  endif()
  foreach(certificate IN LISTS certificates)
    fingerprint("${certificate}" f)
    if(f IN_LIST demo_fingerprints)
      list(APPEND demo_in "${name}")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE "${scratch}")
if(NOT tool_checked)
  message(FATAL_ERROR "rscdc is not among the staged files under ${staged}")
endif()

if(demo_in AND NOT CPACK_RSCDC_DEMO_ALLOWED)
  list(REMOVE_DUPLICATES demo_in)
  list(JOIN demo_in ", " demo_in)
  message(FATAL_ERROR "Refusing to package: the demo trust material of ${CPACK_RSCDC_DEMO_TRUST_DIR}, "
          "whose private keys are public, is embedded in ${demo_in}. Configure the build with a "
          "real root (RSCDC_TRUST_CERT, RSCDC_TRUST_CRL, RSCDC_DOWNLOAD_BASE), or package it "
          "as a demo with RSCDC_PACKAGE_DEMO=ON.")
endif()
