# Installs the manual pages (run by cmake --install, after the variables CLEAVIX_MAN_* are set):
# each with the guide's folder under the prefix installed to, gzipped without a time stamp.
# The intermediate files are named by the destination, so two installs at once do not meet.
string(MD5 stamp "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(work "${CLEAVIX_MAN_DIR}/install-${stamp}")
file(MAKE_DIRECTORY "${work}")
set(gzipped)
foreach(page IN LISTS CLEAVIX_MAN_PAGES)
  file(READ "${CLEAVIX_MAN_DIR}/${page}.1" text)
  string(REPLACE "@HELPDIR@" "${CMAKE_INSTALL_PREFIX}/${CLEAVIX_HELP_DEST}" text "${text}")
  file(WRITE "${work}/${page}.1" "${text}")
  execute_process(COMMAND "${CLEAVIX_GZIP}" -9nf "${work}/${page}.1" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}.1")
  endif()
  list(APPEND gzipped "${work}/${page}.1.gz")
endforeach()
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CLEAVIX_MAN_DEST}" TYPE FILE FILES ${gzipped})
file(REMOVE_RECURSE "${work}")
