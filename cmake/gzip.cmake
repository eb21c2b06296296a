# rscdc_gzip(<source> <output> <target>): <output> is <source> compressed as
# Debian ships documents (gzip -9n: no name, no time stamp, so the same bytes
# every build), made by the target <target>, which every build makes.
function(rscdc_gzip source output target)
  get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh "${source}" "${output}"
    DEPENDS "${source}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
