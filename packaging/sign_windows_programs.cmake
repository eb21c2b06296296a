# Run by CPack on the staged files of the Windows zip, after
# refuse_demo_trust.cmake: signs every staged program with Authenticode
# (SHA-256) through osslsigncode, so that the zip holds the signed programs and
# a change to them, the trust resources among it, shows.
#
# The signing material comes from the environment, which scripts/package sets
# for the one cpack run, so that neither the key nor its path is kept in the
# build folder:
#   RSCDC_SIGN_CERT and RSCDC_SIGN_KEY     PEM (or DER) certificate and key, or
#   RSCDC_SIGN_PKCS12                      a PKCS#12 file, with its password in
#   RSCDC_SIGN_PASSWORD_FILE               (optional)
#   RSCDC_SIGN_TIMESTAMP_URL               an RFC 3161 time-stamp server (optional)
#   RSCDC_PACKAGE_UNSIGNED=1               package the programs unsigned on purpose
# osslsigncode reads the key where it is; only the signed programs are written.

cmake_policy(VERSION 3.25)

set(cert "$ENV{RSCDC_SIGN_CERT}")
set(key "$ENV{RSCDC_SIGN_KEY}")
set(pkcs12 "$ENV{RSCDC_SIGN_PKCS12}")
set(password_file "$ENV{RSCDC_SIGN_PASSWORD_FILE}")
set(timestamp_url "$ENV{RSCDC_SIGN_TIMESTAMP_URL}")

if(pkcs12)
  set(material -pkcs12 "${pkcs12}")
  if(password_file)
    list(APPEND material -readpass "${password_file}")
  endif()
elseif(cert AND key)
  set(material -certs "${cert}" -key "${key}")
elseif(cert OR key)
  message(FATAL_ERROR "Cannot sign the Windows programs: a certificate needs its key and a key its "
          "certificate (RSCDC_SIGN_CERT, RSCDC_SIGN_KEY)")
elseif("$ENV{RSCDC_PACKAGE_UNSIGNED}" STREQUAL "1")
  message(STATUS "The Windows programs are packaged unsigned, as asked")
  return()
else()
  message(FATAL_ERROR "Refusing to package: the Windows programs would not be signed. Give "
          "scripts/package a code-signing certificate and key (--sign-cert FILE --sign-key FILE, "
          "or --sign-pkcs12 FILE), or --unsigned to package them unsigned on purpose.")
endif()

find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "Cannot sign the Windows programs: osslsigncode is not installed "
          "(scripts/install-deps --windows installs it)")
endif()
set(timestamp "")
if(timestamp_url)
  set(timestamp -ts "${timestamp_url}")
endif()

set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
file(GLOB_RECURSE programs LIST_DIRECTORIES FALSE "${staged}/*.exe")
if(NOT programs)
  message(FATAL_ERROR "No program to sign among the staged files under ${staged}")
endif()
foreach(program IN LISTS programs)
  get_filename_component(name "${program}" NAME)
  # osslsigncode writes a new file; an old one there would make it refuse.
  file(REMOVE "${program}.signed")
  execute_process(COMMAND "${OSSLSIGNCODE}" sign -h sha256 ${material} -n "${name}" ${timestamp}
                          -in "${program}" -out "${program}.signed"
                  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT EXISTS "${program}.signed")
    file(REMOVE "${program}.signed")
    message(FATAL_ERROR "osslsigncode could not sign ${name}:\n${output}")
  endif()
  file(RENAME "${program}.signed" "${program}")
  message(STATUS "Signed ${name}")
endforeach()
